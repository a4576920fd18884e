// The settings file reader. Property: what the writer makes of any file reads back to itself
// (parse, write, parse, write gives the same bytes), and every value survives that trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "settings/regfile.h"

using zentra::regfile::Hive;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Hive first = Hive::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string written = first.Serialize();
    const Hive second = Hive::Parse(written);
    if (second.Serialize() != written) std::abort();
    return 0;
}
