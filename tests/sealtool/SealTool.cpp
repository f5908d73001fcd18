// sealtool: a stand-in for the encryption tool an installation keeps in its
// bin folder. It is reversible, so tests can prove what it was given:
//   sealtool -o 1 CONFIG CSV     the configuration as "line;hex" records
//   sealtool -p PASS CSV SEALED  the records' bytes, XORed with PASS, as hex
//                                lines under the header "SEALTOOL 1"
//   sealtool -u PASS SEALED OUT  undoes -p (and -o): the configuration again
// Exit status: 0 done, 1 a file could not be read or written, 2 bad usage,
// 3 an input not in the expected format.
#include <cstdio>
#include <cstring>
#include <string>

namespace {
const char kHeader[] = "SEALTOOL 1\n";
const char kDigits[] = "0123456789abcdef";

bool readFile(const char* path, std::string& text) {
    FILE* f = fopen(path, "rb");
    if (!f) return false;
    char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

bool writeFile(const char* path, const std::string& text) {
    FILE* f = fopen(path, "wb");
    if (!f) return false;
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && ok;
}

std::string hex(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

int nibble(char c) {
    const char* at = strchr(kDigits, c);
    return (c && at) ? static_cast<int>(at - kDigits) : -1;
}

bool unhex(const std::string& text, std::string& bytes) {
    if (text.size() % 2) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        int high = nibble(text[i]), low = nibble(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes += static_cast<char>(high * 16 + low);
    }
    return true;
}

std::string xorWith(const std::string& bytes, const std::string& password) {
    std::string out = bytes;
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(out[i] ^ password[i % password.size()]);
    return out;
}

std::string toRecords(const std::string& config) {
    std::string out;
    size_t start = 0, number = 1;
    while (start < config.size()) {
        size_t nl = config.find('\n', start);
        size_t end = nl == std::string::npos ? config.size() : nl + 1;
        out += std::to_string(number++) + ";" + hex(config.substr(start, end - start)) + "\n";
        start = end;
    }
    return out;
}

bool fromRecords(const std::string& records, std::string& config) {
    size_t start = 0, number = 1;
    while (start < records.size()) {
        size_t nl = records.find('\n', start);
        if (nl == std::string::npos) return false;
        std::string line = records.substr(start, nl - start);
        std::string head = std::to_string(number++) + ";";
        if (line.compare(0, head.size(), head) != 0 || !unhex(line.substr(head.size()), config)) return false;
        start = nl + 1;
    }
    return true;
}

int usage() {
    fprintf(stderr, "usage: sealtool -o 1 CONFIG CSV | -p PASSWORD CSV SEALED | -u PASSWORD SEALED CONFIG\n");
    return 2;
}
}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 5) return usage();
    const std::string mode = argv[1], value = argv[2];
    std::string in, out;
    if (!readFile(argv[3], in)) {
        fprintf(stderr, "sealtool: cannot read %s\n", argv[3]);
        return 1;
    }
    if (mode == "-o") {
        if (value != "1") return usage();
        out = toRecords(in);
    } else if (mode == "-p") {
        if (value.empty()) return usage();
        std::string config;
        if (!fromRecords(in, config)) {
            fprintf(stderr, "sealtool: %s is not a record file\n", argv[3]);
            return 3;
        }
        std::string sealed = hex(xorWith(config, value));
        out = kHeader;
        for (size_t i = 0; i < sealed.size(); i += 64) out += sealed.substr(i, 64) + "\n";
    } else if (mode == "-u") {
        if (value.empty()) return usage();
        if (in.compare(0, strlen(kHeader), kHeader) != 0) return 3;
        std::string digits, bytes;
        for (size_t i = strlen(kHeader); i < in.size(); ++i)
            if (in[i] != '\n') digits += in[i];
        if (!unhex(digits, bytes)) return 3;
        out = xorWith(bytes, value);
    } else {
        return usage();
    }
    if (!writeFile(argv[4], out)) {
        fprintf(stderr, "sealtool: cannot write %s\n", argv[4]);
        return 1;
    }
    return 0;
}
