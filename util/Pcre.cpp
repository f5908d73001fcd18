#include "util/Pcre.h"

#include <cstring>
#include <utility>

namespace pcrepp {

Pcre::Pcre() = default;

Pcre::Pcre(const std::string& pattern, const std::string& flags) : pattern_(pattern), flags_(flags) {
    compile();
}

Pcre::Pcre(const Pcre& other) : pattern_(other.pattern_), flags_(other.flags_) {
    if (other.code_ || !other.error_.empty()) compile();
}

Pcre& Pcre::operator=(const Pcre& other) {
    if (this != &other) {
        release();
        pattern_ = other.pattern_;
        flags_ = other.flags_;
        error_.clear();
        if (other.code_ || !other.error_.empty()) compile();
    }
    return *this;
}

Pcre::Pcre(Pcre&& other) noexcept
    : pattern_(std::move(other.pattern_)),
      flags_(std::move(other.flags_)),
      error_(std::move(other.error_)),
      global_(other.global_),
      code_(std::exchange(other.code_, nullptr)),
      matchData_(std::exchange(other.matchData_, nullptr)),
      matched_(std::exchange(other.matched_, false)),
      partial_(std::exchange(other.partial_, false)),
      subjectCopy_(std::move(other.subjectCopy_)) {}

Pcre& Pcre::operator=(Pcre&& other) noexcept {
    if (this != &other) {
        release();
        pattern_ = std::move(other.pattern_);
        flags_ = std::move(other.flags_);
        error_ = std::move(other.error_);
        global_ = other.global_;
        code_ = std::exchange(other.code_, nullptr);
        matchData_ = std::exchange(other.matchData_, nullptr);
        matched_ = std::exchange(other.matched_, false);
        partial_ = std::exchange(other.partial_, false);
        subjectCopy_ = std::move(other.subjectCopy_);
    }
    return *this;
}

Pcre::~Pcre() { release(); }

void Pcre::release() {
    if (matchData_) pcre2_match_data_free(matchData_);
    if (code_) pcre2_code_free(code_);
    matchData_ = nullptr;
    code_ = nullptr;
    matched_ = partial_ = false;
}

void Pcre::compile() {
    uint32_t options = 0;
    global_ = false;
    for (char c : flags_) {
        switch (c) {
            case 'i': options |= PCRE2_CASELESS; break;
            case 'm': options |= PCRE2_MULTILINE; break;
            case 's': options |= PCRE2_DOTALL; break;
            case 'x': options |= PCRE2_EXTENDED; break;
            case 'g': global_ = true; break;
            default: break;
        }
    }
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern_.data()), pattern_.size(), options,
                          &errorCode, &errorOffset, nullptr);
    if (!code_) {
        PCRE2_UCHAR buffer[256];
        pcre2_get_error_message(errorCode, buffer, sizeof buffer);
        error_ = reinterpret_cast<const char*>(buffer);
        error_ += " at offset " + std::to_string(errorOffset);
        return;
    }
    error_.clear();
    // JIT is an optimisation only; a pattern it cannot handle still matches
    // through the interpreter.
    pcre2_jit_compile(code_, PCRE2_JIT_COMPLETE | PCRE2_JIT_PARTIAL_SOFT);
    matchData_ = pcre2_match_data_create_from_pattern(code_, nullptr);
}

bool Pcre::search(const std::string& subject, size_t offset, uint32_t extraOptions) {
    return searchRange(subject.data(), subject.size(), offset, extraOptions);
}

bool Pcre::searchRange(const char* subject, size_t length, size_t offset, uint32_t extraOptions) {
    bool found = searchInPlace(subject, length, offset, extraOptions);
    if (matched_ || partial_) subjectCopy_.assign(subject, length);
    return found;
}

bool Pcre::searchInPlace(const char* subject, size_t length, size_t offset, uint32_t extraOptions) {
    matched_ = partial_ = false;
    subjectCopy_.clear();
    if (!code_ || offset > length) return false;
    int rc = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(subject), length, offset, extraOptions,
                         matchData_, nullptr);
    if (rc == PCRE2_ERROR_PARTIAL) {
        partial_ = true;
        return false;
    }
    if (rc < 0) return false;
    matched_ = true;
    return true;
}

int Pcre::matches() const {
    if (!code_) return 0;
    uint32_t count = 0;
    pcre2_pattern_info(code_, PCRE2_INFO_CAPTURECOUNT, &count);
    return static_cast<int>(count);
}

size_t Pcre::start(int n) const {
    if ((!matched_ && !(partial_ && n == 0)) || n < 0 || n > matches()) return npos;
    PCRE2_SIZE* ov = pcre2_get_ovector_pointer(matchData_);
    if (static_cast<uint32_t>(n) >= pcre2_get_ovector_count(matchData_)) return npos;
    return ov[2 * n] == PCRE2_UNSET ? npos : ov[2 * n];
}

size_t Pcre::end(int n) const {
    if ((!matched_ && !(partial_ && n == 0)) || n < 0 || n > matches()) return npos;
    PCRE2_SIZE* ov = pcre2_get_ovector_pointer(matchData_);
    if (static_cast<uint32_t>(n) >= pcre2_get_ovector_count(matchData_)) return npos;
    return ov[2 * n + 1] == PCRE2_UNSET ? npos : ov[2 * n + 1];
}

std::string Pcre::group(int n) const {
    size_t s = start(n), e = end(n);
    if (s == npos || e == npos || e < s || e > subjectCopy_.size()) return "";
    return subjectCopy_.substr(s, e - s);
}

std::string Pcre::replace(const std::string& subject, const std::string& with) const {
    if (!code_) return subject;
    uint32_t options = PCRE2_SUBSTITUTE_OVERFLOW_LENGTH | (global_ ? PCRE2_SUBSTITUTE_GLOBAL : 0);
    pcre2_match_data* md = pcre2_match_data_create_from_pattern(code_, nullptr);
    std::string out(subject.size() + with.size() + 64, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        PCRE2_SIZE outLength = out.size();
        int rc = pcre2_substitute(code_, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), 0,
                                  options, md, nullptr, reinterpret_cast<PCRE2_SPTR>(with.data()),
                                  with.size(), reinterpret_cast<PCRE2_UCHAR*>(&out[0]), &outLength);
        if (rc == PCRE2_ERROR_NOMEMORY) {
            out.assign(outLength + 1, '\0');
            continue;
        }
        pcre2_match_data_free(md);
        if (rc < 0) return subject;
        out.resize(outLength);
        return out;
    }
    pcre2_match_data_free(md);
    return subject;
}

std::string Pcre::replaceLiteral(const std::string& subject, const std::string& with) const {
    if (!code_) return subject;
    pcre2_match_data* md = pcre2_match_data_create_from_pattern(code_, nullptr);
    std::string out;
    size_t copied = 0;  // subject bytes already in out
    size_t offset = 0;
    uint32_t options = 0;
    while (offset <= subject.size()) {
        int rc = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), offset,
                             options, md, nullptr);
        if (rc < 0) {
            // After an empty match, retry one byte further on before giving up.
            if (rc == PCRE2_ERROR_NOMATCH && options != 0 && offset < subject.size()) {
                options = 0;
                ++offset;
                continue;
            }
            break;
        }
        PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
        out.append(subject, copied, ov[0] - copied);
        out += with;
        copied = ov[1];
        if (!global_) break;
        offset = ov[1];
        // An empty match must not be found again at the same place.
        options = (ov[0] == ov[1]) ? (PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED) : 0;
    }
    pcre2_match_data_free(md);
    out.append(subject, copied, std::string::npos);
    return out;
}

size_t Pcre::maxLookbehind() const {
    if (!code_) return 0;
    uint32_t value = 0;
    pcre2_pattern_info(code_, PCRE2_INFO_MAXLOOKBEHIND, &value);
    return value;
}

}  // namespace pcrepp
