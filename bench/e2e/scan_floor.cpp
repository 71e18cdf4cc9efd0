// The floor for any tool that must look at every line of a sample file: read it in 1 MiB blocks
// and count the line feeds with memchr. Nothing is parsed. The end-to-end benchmark times this
// beside psd so that "close to reading speed" has a number on the same machine and run.
//
//   psd_e2e_scan FILE      prints "<line feeds> <bytes>"
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    std::FILE* in = std::fopen(argv[1], "rb");
    if (!in) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    const std::size_t block = 1u << 20;
    char* buf = static_cast<char*>(std::malloc(block));
    if (!buf) return 1;
    unsigned long long lines = 0;
    unsigned long long bytes = 0;
    std::size_t got;
    while ((got = std::fread(buf, 1, block, in)) > 0) {
        bytes += got;
        const char* p = buf;
        const char* end = buf + got;
        while ((p = static_cast<const char*>(std::memchr(p, '\n', end - p))) != nullptr) {
            ++lines;
            ++p;
        }
    }
    std::fclose(in);
    std::free(buf);
    std::printf("%llu %llu\n", lines, bytes);
    return 0;
}
