#include "update/ErrorReport.h"

#include "framework/Wnd.h"

#include <array>
#include <utility>

namespace qam::update {

namespace {

constexpr const char* BAD_RESPONSE_PREFIX = "Invalid Response [ ";
constexpr const char* BAD_RESPONSE_SUFFIX = " ]";
constexpr const char* UNKNOWN_ERROR = "Unknown Error";
constexpr const char* ERROR_CAPTION = "ERROR";

constexpr std::array<std::pair<ResultCode, const char*>, 9> TEXTS{{
    {ERR_COM_WRITE, "Can Not Write To COM"},
    {ERR_NO_RESPONSE, "No Response"},
    {ERR_FILE_OPEN, "Can Not Open File"},
    {ERR_FILE_FORMAT, "Illegal File Format"},
    {ERR_FILE_TOO_BIG, "File contain to much data"},
    {ERR_FILE_READ, "Read Access Error!"},
    {ERR_FILE_TYPE, "File Type not supported!"},
    {ERR_SECTION_NOT_FOUND, "Section Not Found"},
    {ERR_NO_MEMORY, "Insufficient Memory"},
}};

// The reply up to its first byte that is no printable character other than the blank.
std::string ReplyText(std::span<const char> reply) {
    std::string text;
    for (char c : reply) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 32 || byte >= 128) {
            break;
        }
        text += c;
    }
    return text;
}

} // namespace

std::string ErrorText(ResultCode code, std::span<const char> reply) {
    if (code == RESULT_OK) {
        return {};
    }
    if (code == ERR_BAD_RESPONSE) {
        return BAD_RESPONSE_PREFIX + ReplyText(reply) + BAD_RESPONSE_SUFFIX;
    }
    for (const auto& [value, text] : TEXTS) {
        if (value == code) {
            return text;
        }
    }
    return UNKNOWN_ERROR;
}

void ReportError(const CWnd& owner, ResultCode code, std::span<const char> reply, const char* detail) {
    std::string text = ErrorText(code, reply);
    if (text.empty()) {
        return;
    }
    if (detail != nullptr) {
        text += '\n';
        text += detail;
    }
    owner.MessageBox(text.c_str(), ERROR_CAPTION, MB_ICONERROR | MB_OK);
}

} // namespace qam::update
