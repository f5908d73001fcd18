#pragma once
#include <initializer_list>
#include <string>
#include <vector>

// CommandTable maps the leading words of a command line to a member of a
// shell. The entry with the most matching words wins, so "set ftp" and
// "set inactivity-timer" live side by side; the words after the matched
// ones are the command's arguments. Adding a device command is one line
// in the table of its mode plus its member.
template <class ShellT>
class CommandTable {
public:
    using Handler = void (ShellT::*)(const std::vector<std::string>& args);
    struct Entry {
        const char* words;
        Handler handler;
    };

    CommandTable(std::initializer_list<Entry> entries) {
        for (const auto& entry : entries) entries_.push_back({split(entry.words), entry.handler});
    }

    // nullptr when no entry matches.
    Handler find(const std::vector<std::string>& words, std::vector<std::string>& args) const {
        const Compiled* best = nullptr;
        for (const auto& entry : entries_) {
            if (entry.words.size() > words.size()) continue;
            bool match = true;
            for (size_t i = 0; i < entry.words.size() && match; ++i) match = entry.words[i] == words[i];
            if (match && (!best || entry.words.size() > best->words.size())) best = &entry;
        }
        if (!best) return nullptr;
        args.assign(words.begin() + static_cast<long>(best->words.size()), words.end());
        return best->handler;
    }

    // Splits a command line into words at blanks and tabs. Double or single
    // quotes group a word and are removed ('' is an empty word).
    static std::vector<std::string> split(const std::string& line) {
        std::vector<std::string> words;
        std::string word;
        bool inWord = false;
        char quote = 0;
        for (char c : line) {
            if (quote) {
                if (c == quote)
                    quote = 0;
                else
                    word += c;
            } else if (c == '"' || c == '\'') {
                quote = c;
                inWord = true;
            } else if (c == ' ' || c == '\t') {
                if (inWord) words.push_back(word);
                word.clear();
                inWord = false;
            } else {
                word += c;
                inWord = true;
            }
        }
        if (inWord) words.push_back(word);
        return words;
    }

private:
    struct Compiled {
        std::vector<std::string> words;
        Handler handler;
    };
    std::vector<Compiled> entries_;
};
