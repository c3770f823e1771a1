#include "record/recorder_state.h"

namespace veldro::record {

std::shared_ptr<RecorderState> make_recorder_state() {
    return std::make_shared<RecorderState>();
}

}  // namespace veldro::record
