#include "time_text.h"

#include <cmath>
#include <cstdlib>

namespace qvtool {
namespace {

// A non-negative decimal number taking the whole text.
bool ParseNumber(const std::string& text, double* value) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(*value);
}

}  // namespace

bool ParseTimeText(const std::string& text, double* seconds) {
    std::string body = text;
    if (!body.empty() && body.back() == 's') body.pop_back();
    double total = 0.0;
    size_t start = 0;
    int fields = 0;
    for (;;) {
        const size_t colon = body.find(':', start);
        const std::string part = body.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        double value = 0.0;
        if (!ParseNumber(part, &value)) return false;
        // Minutes and seconds after a colon stay below 60, and only the last field has a fraction.
        if (fields > 0 && value >= 60.0) return false;
        total = total * 60.0 + value;
        ++fields;
        if (colon == std::string::npos) break;
        if (value != std::floor(value) || fields == 3) return false;
        start = colon + 1;
    }
    if (fields > 1 && text.back() == 's') return false;
    *seconds = total;
    return true;
}

}  // namespace qvtool
