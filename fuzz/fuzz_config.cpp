// Fuzz target: the configuration reader on arbitrary bytes.
//
// Whatever read_run_config accepts must hold the fields that "%s %d %d %d %s" scans from the same
// bytes (a UTF-8 byte order mark at their start skipped), and it must accept every text whose five
// fields are well formed: names of 1 to 127 characters without NUL bytes, whole decimal integers
// within 32 bits.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "reference/plain_text.h"
#include "run/config.h"

namespace {

namespace reference = psd::reference;

// The reader may keep a name as scanned or, as a C string would, cut it at its first NUL byte.
bool same_name(const std::string& read, const std::string& scanned) {
    return read == scanned || read == scanned.substr(0, scanned.find('\0'));
}

bool plain_name(const std::string& name) {
    return !name.empty() && name.size() <= 127 && name.find('\0') == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using psd::reference::require;
    std::FILE* stream = size > 0 ? fmemopen(const_cast<std::uint8_t*>(data), size, "r")
                                 : std::fopen("/dev/null", "r");
    if (stream == nullptr) return 0;
    psd::RunConfig read;
    psd::ConfigProblem problem;
    const bool accepted = psd::read_run_config(stream, &read, &problem) == psd::ConfigStatus::ok;
    (void)std::fclose(stream);
    const psd::RunConfig* config = accepted ? &read : nullptr;

    const std::string text = reference::without_byte_order_mark(data, size);
    reference::ScannedConfig scanned =
        reference::scan_config(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    bool well_formed = scanned.complete && scanned.in_range && scanned.whole &&
                       plain_name(scanned.names[0]) && plain_name(scanned.names[1]);
    if (!config) {
        require(!well_formed, "a well-formed configuration is rejected");
        return 0;
    }
    require(scanned.complete, "a configuration with a missing field is accepted");
    require(scanned.in_range, "an integer beyond 32 bits is accepted");
    require(same_name(config->data_file, scanned.names[0]), "data_file differs from the scan");
    require(same_name(config->output_file, scanned.names[1]), "output_file differs from the scan");
    require(!config->data_file.empty() && config->data_file.size() <= 127,
            "data_file is empty or longer than 127 characters");
    require(!config->output_file.empty() && config->output_file.size() <= 127,
            "output_file is empty or longer than 127 characters");
    require(config->hanning == scanned.numbers[0], "hanning differs from the scan");
    require(config->nb_section == scanned.numbers[1], "nb_section differs from the scan");
    require(config->nbpoint_section == scanned.numbers[2], "nbpoint_section differs from the scan");
    return 0;
}
