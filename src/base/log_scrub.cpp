#include "base/log_scrub.h"

#include <cstring>

namespace qv {

bool ScrubCredentials(char* line) {
    bool replaced = false;
    for (char* scheme_end = std::strstr(line, "://"); scheme_end; scheme_end = std::strstr(scheme_end + 3, "://")) {
        char* user = scheme_end + 3;
        // The authority ends at the first '/', space or quote; its user part at the last '@'.
        const size_t authority = std::strcspn(user, "/ '\"\n?#");
        char* at = nullptr;
        for (char* c = user; c < user + authority; ++c) {
            if (*c == '@') at = c;
        }
        if (!at) continue;
        char* colon = static_cast<char*>(std::memchr(user, ':', static_cast<size_t>(at - user)));
        if (!colon) continue;
        // user:password@ -> user:********@, in place: the line keeps its length.
        for (char* c = colon + 1; c < at; ++c) *c = '*';
        replaced = true;
    }
    return replaced;
}

}  // namespace qv
