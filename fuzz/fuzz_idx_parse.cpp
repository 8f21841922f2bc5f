// The IDX text parser on any bytes: every description it hands over must be
// valid UTF-8.
#include "idx/idx_format.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, std::size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    idx_parse_text(text.data(), [](gint32, const char *info) {
        if (!g_utf8_validate(info, -1, nullptr))
            std::abort();
    });
    return 0;
}
