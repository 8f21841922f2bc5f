#include "tape/tape_file.h"

#include "base/i18n.h"

#include <cstring>

const char *tape_file_reason(const TapeFileResult &result)
{
    switch (result.problem) {
    case TapeFileProblem::none:
        return nullptr;
    case TapeFileProblem::not_regular:
        return result.error != 0 ? std::strerror(result.error) : _("not a regular file");
    case TapeFileProblem::too_large:
        return _("larger than any tape (256 MiB)");
    default:
        return std::strerror(result.error);
    }
}
