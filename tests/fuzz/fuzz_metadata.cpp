// libFuzzer target: any text as a compiled model's metadata.json.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "orvix/ModelMetadata.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto parsed = orvix::parseModelMetadata(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!parsed) return 0;
    // What the parser accepts, the runtime relies on.
    const auto& m = *parsed;
    if (m.classLabels.empty() || m.width < 1 || m.height < 1 || !(m.scale > 0) || !(m.temperature > 0))
        __builtin_trap();
    for (double s : m.std)
        if (!(s > 0) || !std::isfinite(s)) __builtin_trap();
    return 0;
}
