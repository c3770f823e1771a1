// Reading a copy back while it is being made: a partner thread hashes each
// piece of the new file as soon as it is final, so that a large file's
// verification costs about one digest pass of wall time, not two.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/fs.h"

namespace veldro::platform::posix {

using ReadBack = CopyReadBack::Partner;

// The partner thread of `owner`, started on first use; null when no thread
// can be had.
ReadBack* read_back_partner(CopyReadBack& owner);

// Starts reading `fd` (open for reading) back from offset 0, handing every
// piece to `take` on the partner's thread.
void read_back_start(ReadBack& partner, int fd, void (*take)(void*, const unsigned char*, std::size_t), void* context);
// Bytes [0, upto) of the file are final and may be read.
void read_back_advance(ReadBack& partner, std::uint64_t upto);
// The file is complete at `size` bytes: waits until every byte went to the
// taker. False when a read failed or came up short.
bool read_back_finish(ReadBack& partner, std::uint64_t size);
// The copy failed: stops the reading and waits until the partner is idle.
void read_back_abandon(ReadBack& partner);

// The partner's other use, while a copy is read back on the copying thread:
// hashing one piece at a time while the next is copied. Waits until the
// piece handed over before is hashed, then hands this one over: the
// source's bytes and the same bytes read back from the copy, both to
// feed.take_both, or the source's alone to feed.take when `copy` is null.
// The buffers and the feed stay untouched until partner_hashed().
void hash_on_partner(ReadBack& partner, const CopyFeed& feed, const unsigned char* source, const unsigned char* copy,
                     std::size_t size);
// The same for the pieces of several streams at once, handed to `take`:
// the arrays and the buffers they point to stay untouched until
// partner_hashed().
void hash_many_on_partner(ReadBack& partner, TakeMany take, void* const* contexts, const unsigned char* const* data,
                          const std::size_t* sizes, std::size_t count);
// Waits until every piece handed over is hashed.
void partner_hashed(ReadBack& partner);

}  // namespace veldro::platform::posix
