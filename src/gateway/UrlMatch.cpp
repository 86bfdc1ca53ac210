#include "gateway/UrlMatch.h"

#include <cstdint>
#include <string_view>

namespace {

constexpr size_t kMaxFilled = 2047;
constexpr int kMaxArgs = 4;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads one integer the way a "%d" scan does (blanks, sign, digits); false on no digits or a
// value outside int32.
bool scanInt(const std::string& s, size_t& pos, int32_t& out) {
    while (pos < s.size() && isSpace(s[pos])) ++pos;
    bool neg = false;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) neg = s[pos++] == '-';
    if (pos >= s.size() || !isDigit(s[pos])) return false;
    int64_t v = 0;
    while (pos < s.size() && isDigit(s[pos])) {
        v = v * 10 + (s[pos++] - '0');
        if (v > 2147483648LL) return false;
    }
    if (neg) v = -v;
    if (v > INT32_MAX || v < INT32_MIN) return false;
    out = static_cast<int32_t>(v);
    return true;
}

// Query part: everything from the first '?' on ("" when there is none).
size_t queryStart(const std::string& uri) { return uri.find('?'); }

// Position of the '?' or '&' that introduces the parameter name, npos when the query has none.
size_t findParam(const std::string& uri, const std::string& name) {
    const size_t q = queryStart(uri);
    if (q == std::string::npos || name.empty()) return std::string::npos;
    const std::string key = name + "=";
    for (size_t pos = q; pos < uri.size(); ++pos) {
        if (uri[pos] != '?' && uri[pos] != '&') continue;
        if (uri.compare(pos + 1, key.size(), key) == 0) return pos;
    }
    return std::string::npos;
}

}  // namespace

std::string urlPath(const std::string& uri) {
    const size_t q = uri.find('?');
    return q == std::string::npos ? std::string() : uri.substr(0, q);
}

bool matchUrl(const std::string& uri, const std::string& pattern, int nArgs) {
    if (nArgs < 0 || nArgs > kMaxArgs) return false;
    const std::string target = uri.substr(0, uri.find('?'));
    // Walk pattern once: literal text must equal uri, each "%d" reads one integer from uri and is
    // written back in its canonical form, so "/02" or "/+2" never equal the filled pattern.
    std::string filled;
    size_t pos = 0;
    int conversions = 0;
    bool scanning = true;  // uri still agrees with pattern so far
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '%') {
            if (i + 1 >= pattern.size() || pattern[i + 1] != 'd') return false;
            ++i;
            if (++conversions > nArgs) return false;
            int32_t v = 0;
            if (scanning && !scanInt(uri, pos, v)) scanning = false;
            if (!scanning) continue;  // the count must still be checked to the end
            filled += std::to_string(v);
        } else if (scanning) {
            if (pos < uri.size() && uri[pos] == c)
                ++pos;
            else
                scanning = false;
            filled += c;
        }
        if (filled.size() > kMaxFilled) return false;
    }
    if (conversions != nArgs || !scanning) return false;
    return filled == target;
}

bool matchUrlIgnore(const std::string& path, const std::string& pattern) {
    // Segment by segment, in place: every route is tried against every request.
    size_t a = 0, b = 0;
    int ignored = 0;
    for (;;) {
        const size_t ae = path.find('/', a), be = pattern.find('/', b);
        const std::string_view as(path.data() + a, (ae == std::string::npos ? path.size() : ae) - a);
        const std::string_view bs(pattern.data() + b, (be == std::string::npos ? pattern.size() : be) - b);
        if (bs == "IGNORE") {
            if (++ignored > kMaxArgs) return false;
        } else if (as != bs) {
            return false;
        }
        if (ae == std::string::npos || be == std::string::npos) return ae == be;
        a = ae + 1;
        b = be + 1;
    }
}

bool isJsonFormat(const std::string& uri) { return uri.find("format=json") != std::string::npos; }

bool eraseUrlParam(const std::string& uri, std::string& outUrl, const std::string& name) {
    const size_t at = findParam(uri, name);
    if (at == std::string::npos) return false;
    const bool first = uri[at] == '?';
    const size_t valueStart = at + 1 + name.size() + 1;
    std::string out = uri.substr(0, at);
    const size_t amp = uri.find('&', valueStart);
    const size_t quest = uri.find('?', valueStart);
    if (amp != std::string::npos) {
        // The removed parameter opened the query: what follows opens it now.
        out += first ? "?" : "&";
        out.append(uri, amp + 1, std::string::npos);
    } else if (quest != std::string::npos) {
        out.append(uri, quest, std::string::npos);
    }
    outUrl.swap(out);
    return true;
}

int getHttpMethodType(const std::string& method) {
    static const char* const kMethods[] = {"GET", "PUT", "POST", "DELETE"};
    for (int i = 0; i < 4; ++i)
        if (method == kMethods[i]) return i;
    return -1;
}

bool getUrlParam(std::string& value, const std::string& name, const std::string& uri) {
    const size_t at = findParam(uri, name);
    if (at == std::string::npos) return false;
    const size_t start = at + 1 + name.size() + 1;
    size_t end = uri.find('&', start);
    if (end == std::string::npos) end = uri.find('?', start);
    if (end == std::string::npos) end = uri.size();
    size_t b = start, e = end;
    while (b < e && uri[b] == ' ') ++b;
    while (e > b && uri[e - 1] == ' ') --e;
    value = uri.substr(b, e - b);
    return true;
}
