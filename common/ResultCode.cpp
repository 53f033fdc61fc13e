#include "common/ResultCode.h"

#include <array>
#include <utility>

namespace qam {

std::string_view ResultCodeName(ResultCode code) {
    static constexpr std::array<std::pair<ResultCode, std::string_view>, 12> names{{
        {RESULT_OK, "OK"},
        {ERR_COM_WRITE, "ERR_COM_WRITE"},
        {ERR_NO_RESPONSE, "ERR_NO_RESPONSE"},
        {ERR_BAD_RESPONSE, "ERR_BAD_RESPONSE"},
        {ERR_MODULE_REFUSED, "ERR_MODULE_REFUSED"},
        {ERR_FILE_OPEN, "ERR_FILE_OPEN"},
        {ERR_FILE_FORMAT, "ERR_FILE_FORMAT"},
        {ERR_FILE_TOO_BIG, "ERR_FILE_TOO_BIG"},
        {ERR_FILE_READ, "ERR_FILE_READ"},
        {ERR_FILE_TYPE, "ERR_FILE_TYPE"},
        {ERR_SECTION_NOT_FOUND, "ERR_SECTION_NOT_FOUND"},
        {ERR_NO_MEMORY, "ERR_NO_MEMORY"},
    }};
    for (const auto& [value, name] : names) {
        if (value == code) {
            return name;
        }
    }
    return {};
}

} // namespace qam
