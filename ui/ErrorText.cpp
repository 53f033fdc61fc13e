#include "ui/ErrorText.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace qam::ui {

namespace {

constexpr const char* badResponseFormat = "Invalid Response [ %s ]";
constexpr const char* unknownError = "Unknown Error";

constexpr std::array<std::pair<ResultCode, const char*>, 9> texts{{
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

} // namespace

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

std::string ErrorText(ResultCode code, std::span<const char> reply) {
    if (code == RESULT_OK) {
        return {};
    }
    if (code == ERR_BAD_RESPONSE) {
        const std::string printable = ReplyText(reply);
        std::vector<char> text(std::strlen(badResponseFormat) + printable.size() + 1);
        std::snprintf(text.data(), text.size(), badResponseFormat, printable.c_str());
        return text.data();
    }
    for (const auto& [value, text] : texts) {
        if (value == code) {
            return text;
        }
    }
    return unknownError;
}

} // namespace qam::ui
