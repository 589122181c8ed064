#include "base/log_scrub.h"

#include <cctype>
#include <cstring>

namespace qv {
namespace {

constexpr const char kMask[] = "******";

// Query keys that carry a password, compared without regard to case.
bool IsPasswordKey(const std::string& text, size_t begin, size_t end) {
    // SRT's passphrase is its stream's key.
    static const char* const kKeys[] = {"password", "pwd", "passwd", "pass", "passphrase"};
    for (const char* key : kKeys) {
        const size_t length = std::strlen(key);
        if (end - begin != length) continue;
        size_t i = 0;
        while (i < length && std::tolower(static_cast<unsigned char>(text[begin + i])) == key[i]) ++i;
        if (i == length) return true;
    }
    return false;
}

// A value ends where its query field, the query or the quoted address ends.
bool EndsValue(char c) {
    return c == '&' || c == '#' || c == '\'' || c == '"' || std::isspace(static_cast<unsigned char>(c));
}

// "scheme://user:password@" -> "scheme://user:******@", for every address in the text.
bool MaskUserParts(std::string& text) {
    bool replaced = false;
    for (size_t scheme_end = text.find("://"); scheme_end != std::string::npos;
         scheme_end = text.find("://", scheme_end + 3)) {
        const size_t user = scheme_end + 3;
        // The authority ends at the first '/', space or quote; its user part at the last '@'
        // (a password may hold '?', '#' or '&' that its owner did not escape).
        size_t authority = user, token = user;
        while (authority < text.size() && !std::strchr("/ '\"\n\r\t", text[authority])) ++authority;
        while (token < text.size() && !std::strchr(" '\"\n\r\t", text[token])) ++token;
        size_t at = text.rfind('@', authority == user ? user : authority - 1);
        const size_t colon = text.find(':', user);
        // "user:pa/ss@host": a '/' its owner did not escape. Masking a port and path too in
        // the rare address with an '@' in its path is the safe mistake.
        if ((at == std::string::npos || at < user) && colon < authority) at = text.rfind('@', token - 1);
        if (at == std::string::npos || at < user || colon >= at) continue;
        text.replace(colon + 1, at - colon - 1, kMask);
        replaced = true;
    }
    return replaced;
}

// "?password=secret&" -> "?password=******&" (and pwd, passwd, pass), anywhere in the text:
// FFmpeg's debug lines quote a request's path without its scheme.
bool MaskQueryPasswords(std::string& text) {
    bool replaced = false;
    for (size_t field = text.find_first_of("?&;"); field != std::string::npos;
         field = text.find_first_of("?&;", field + 1)) {
        const size_t key = field + 1;
        size_t equals = key;
        while (equals < text.size() && std::isalpha(static_cast<unsigned char>(text[equals]))) ++equals;
        if (equals >= text.size() || text[equals] != '=' || !IsPasswordKey(text, key, equals)) continue;
        size_t end = equals + 1;
        while (end < text.size() && !EndsValue(text[end])) ++end;
        if (end == equals + 1) continue;  // an empty value keeps nothing to hide
        text.replace(equals + 1, end - equals - 1, kMask);
        replaced = true;
        field = equals + sizeof kMask - 1;
    }
    return replaced;
}

}  // namespace

bool ScrubCredentials(std::string& text) {
    // Cheap refusal for the many lines that quote no address and no query.
    if (text.find("://") == std::string::npos && text.find('=') == std::string::npos) return false;
    const bool user = MaskUserParts(text);
    const bool query = MaskQueryPasswords(text);
    return user || query;
}

}  // namespace qv
