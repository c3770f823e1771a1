// Digest throughput: each kind on a large buffer in memory (hardware and
// portable paths), and whole-file digests of a cached file (one kind at a
// time, and all five in one pass), against `openssl speed -evp` and the
// coreutils *sum tools on the same file. Prints MB/s (10^6 bytes per
// second) and the ratios.
//
// Times are processor time (user + system) of the process or of the child
// tool, as `openssl speed` measures by default, so that other work on a
// shared machine does not count against either side; every figure is the
// best of several rounds, the rounds interleaving this program and the tools.
//
// Usage: veldro_bench_digests [--size-mib N] [--file PATH] [--rounds N] [--seconds N]

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "hash/engine.h"
#include "hash/file_digest.h"
#include "hash/md5.h"
#include "hash/sha1.h"
#include "hash/sha256.h"
#include "hash/sha512.h"

#include <sys/resource.h>

namespace {

using veldro::hash::DigestKind;
using veldro::hash::Engine;

struct Options {
    std::size_t size_mib = 1024;
    std::string file = "/tmp/veldro_bench_digests.bin";
    int rounds = 5;
    int openssl_seconds = 2;
};

const char* kind_name(DigestKind kind) {
    switch (kind) {
        case DigestKind::md5:
            return "md5";
        case DigestKind::sha1:
            return "sha1";
        case DigestKind::sha256:
            return "sha256";
        case DigestKind::sha384:
            return "sha384";
        case DigestKind::sha512:
            return "sha512";
    }
    return "?";
}

constexpr DigestKind all_kinds[] = {DigestKind::md5, DigestKind::sha1, DigestKind::sha256, DigestKind::sha384,
                                    DigestKind::sha512};

// Processor time of this process so far.
double cpu_now() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// Processor time of the finished children so far.
double children_cpu() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto seconds = [](const timeval& tv) {
        return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double mb_per_s(std::size_t bytes, double seconds) {
    return static_cast<double>(bytes) / seconds / 1e6;
}

// Hashes the buffer in 1 MiB pieces, as the file reader feeds it.
template <class Context>
double time_context(Context& context, const unsigned char* data, std::size_t size) {
    const double start = cpu_now();
    context.start();
    constexpr std::size_t piece = std::size_t{1} << 20U;
    for (std::size_t at = 0; at < size; at += piece) {
        context.add(data + at, std::min(piece, size - at));
    }
    volatile unsigned char sink = context.finish()[0];
    (void)sink;
    return cpu_now() - start;
}

double time_memory(DigestKind kind, Engine engine, const unsigned char* data, std::size_t size) {
    switch (kind) {
        case DigestKind::md5: {
            veldro::hash::Md5Context c;
            return time_context(c, data, size);
        }
        case DigestKind::sha1: {
            veldro::hash::Sha1Context c(engine);
            return time_context(c, data, size);
        }
        case DigestKind::sha256: {
            veldro::hash::Sha256Context c(engine);
            return time_context(c, data, size);
        }
        case DigestKind::sha384: {
            veldro::hash::Sha384Context c(engine);
            return time_context(c, data, size);
        }
        case DigestKind::sha512: {
            veldro::hash::Sha512Context c(engine);
            return time_context(c, data, size);
        }
    }
    return 0;
}

veldro::hash::DigestSelection only(DigestKind kind) {
    veldro::hash::DigestSelection s;
    s.md5 = kind == DigestKind::md5;
    s.sha1 = kind == DigestKind::sha1;
    s.sha256 = kind == DigestKind::sha256;
    s.sha384 = kind == DigestKind::sha384;
    s.sha512 = kind == DigestKind::sha512;
    return s;
}

// Runs a command and gives its standard output.
std::string capture(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    char chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        out.append(chunk, n);
    }
    pclose(pipe);
    return out;
}

// `openssl speed -evp` at 16 KiB blocks: the figure of its last line, in
// thousands of bytes per second.
double openssl_speed(const char* algorithm, int seconds) {
    const std::string out = capture(std::string("openssl speed -evp ") + algorithm + " -bytes 16384 -seconds " +
                                    std::to_string(seconds) + " 2>/dev/null");
    const std::size_t line = out.rfind(algorithm);
    if (line == std::string::npos) {
        return 0;
    }
    const double k = std::strtod(out.c_str() + line + std::strlen(algorithm), nullptr);
    return k * 1000.0 / 1e6;
}

// The processor time a command took (0 when it failed).
double time_command(const std::string& command) {
    const double start = children_cpu();
    const int rc = std::system(command.c_str());
    const double s = children_cpu() - start;
    return rc == 0 ? s : 0;
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            return false;
        }
        const char* value = argv[++i];
        if (arg == "--size-mib") {
            options.size_mib = std::strtoul(value, nullptr, 10);
        } else if (arg == "--file") {
            options.file = value;
        } else if (arg == "--rounds") {
            options.rounds = std::max(1, std::atoi(value));
        } else if (arg == "--seconds") {
            options.openssl_seconds = std::max(1, std::atoi(value));
        } else {
            return false;
        }
    }
    return options.size_mib > 0;
}

std::string cpu_model() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("model name", 0) == 0) {
            const std::size_t colon = line.find(':');
            return colon == std::string::npos ? line : line.substr(colon + 2);
        }
    }
    return "unknown";
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s [--size-mib N] [--file PATH] [--rounds N] [--seconds N]\n", argv[0]);
        return 2;
    }
    const std::size_t size = options.size_mib << 20U;
    const auto& cpu = veldro::hash::cpu_features();
    std::printf("processor: %s\n", cpu_model().c_str());
    std::printf("SHA extensions: %s, AVX2: %s\n", cpu.sha_extensions ? "yes" : "no", cpu.avx2 ? "yes" : "no");
    std::printf("buffer and file: %zu MiB; best of %d rounds; MB/s = 10^6 bytes per second of processor time\n\n",
                options.size_mib, options.rounds);

    auto buffer = std::make_unique<unsigned char[]>(size);
    std::mt19937_64 gen(42);
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        const std::uint64_t v = gen();
        std::memcpy(buffer.get() + i, &v, 8);
    }

    // In memory, each path, each followed by openssl speed for the kind.
    const char* openssl_names[5] = {"md5", "sha1", "sha256", nullptr, "sha512"};
    double best_mem[5] = {};
    double portable_mem[5] = {};
    double openssl[5] = {};
    for (int round = 0; round < options.rounds; ++round) {
        for (int k = 0; k < 5; ++k) {
            best_mem[k] =
                std::max(best_mem[k], mb_per_s(size, time_memory(all_kinds[k], Engine::best, buffer.get(), size)));
            if (openssl_names[k] != nullptr) {
                openssl[k] = std::max(openssl[k], openssl_speed(openssl_names[k], options.openssl_seconds));
            }
            portable_mem[k] = std::max(portable_mem[k],
                                       mb_per_s(size, time_memory(all_kinds[k], Engine::portable, buffer.get(), size)));
        }
    }

    // The cached file.
    {
        std::ofstream out(options.file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(buffer.get()), static_cast<std::streamsize>(size));
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", options.file.c_str());
            return 1;
        }
    }
    buffer.reset();
    time_command("cat '" + options.file + "' > /dev/null");  // into the page cache

    veldro::hash::DigestReader reader;
    veldro::hash::HashSet set;
    double file_one[5] = {};
    double file_all = 0;
    double file_five_separate = 0;
    double sums[5] = {};
    const char* sum_tools[5] = {"md5sum", "sha1sum", "sha256sum", "sha384sum", "sha512sum"};
    for (int round = 0; round < options.rounds; ++round) {
        for (int k = 0; k < 5; ++k) {
            const double start = cpu_now();
            reader.hash_file(options.file, only(all_kinds[k]), set);
            file_one[k] = std::max(file_one[k], mb_per_s(size, cpu_now() - start));
            const double s = time_command(std::string(sum_tools[k]) + " '" + options.file + "' > /dev/null");
            if (s > 0) {
                sums[k] = std::max(sums[k], mb_per_s(size, s));
            }
        }
        double start = cpu_now();
        reader.hash_file(options.file, veldro::hash::DigestSelection{true, true, true, true, true}, set);
        file_all = std::max(file_all, mb_per_s(size, cpu_now() - start));
        start = cpu_now();
        for (DigestKind kind : all_kinds) {
            reader.hash_file(options.file, only(kind), set);
        }
        file_five_separate = std::max(file_five_separate, mb_per_s(size, cpu_now() - start));
    }
    std::remove(options.file.c_str());

    std::printf("%-7s %9s %9s %9s %7s %9s %9s %7s %9s\n", "kind", "memory", "portable", "openssl", "ratio", "file",
                "*sum", "ratio", "hw/port");
    for (int k = 0; k < 5; ++k) {
        char ossl[16] = "-";
        char ratio[16] = "-";
        if (openssl[k] > 0) {
            std::snprintf(ossl, sizeof ossl, "%.0f", openssl[k]);
            std::snprintf(ratio, sizeof ratio, "%.2f", best_mem[k] / openssl[k]);
        }
        char sum[16] = "-";
        char sum_ratio[16] = "-";
        if (sums[k] > 0) {
            std::snprintf(sum, sizeof sum, "%.0f", sums[k]);
            std::snprintf(sum_ratio, sizeof sum_ratio, "%.2f", file_one[k] / sums[k]);
        }
        std::printf("%-7s %9.0f %9.0f %9s %7s %9.0f %9s %7s %9.2f\n", kind_name(all_kinds[k]), best_mem[k],
                    portable_mem[k], ossl, ratio, file_one[k], sum, sum_ratio, best_mem[k] / portable_mem[k]);
    }
    // The speeds asked of the hardware paths, as fractions of openssl's.
    const double targets[5] = {0.90, 0.85, 0.85, 0, 0.80};
    std::printf("\ntargets (memory / openssl):");
    for (int k = 0; k < 5; ++k) {
        if (targets[k] > 0 && openssl[k] > 0) {
            const double r = best_mem[k] / openssl[k];
            std::printf(" %s %.2f >= %.2f %s;", kind_name(all_kinds[k]), r, targets[k],
                        r >= targets[k] ? "met" : "MISSED");
        }
    }
    std::printf("\n");
    std::printf("\nall five kinds, cached file: one pass %.0f MB/s, five passes %.0f MB/s (%.2fx)\n", file_all,
                file_five_separate, file_all / file_five_separate);
    std::printf("\nmemory: %zu MiB buffer in 1 MiB pieces; openssl: `openssl speed -evp` at 16 KiB blocks;\n",
                options.size_mib);
    std::printf(
        "ratio: memory / openssl; file: whole-file routine on the cached file; *sum: coreutils on the same "
        "file\n");
    return 0;
}
