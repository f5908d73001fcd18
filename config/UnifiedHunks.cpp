#include "config/UnifiedHunks.h"

#include <dtl/dtl.hpp>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

const size_t UnifiedHunks::dtlPathLimit = dtl::MAX_CORDINATES_SIZE;

namespace {
using LineIds = std::vector<unsigned>;
using Lines = std::vector<std::string_view>;

// Cuts text into lines at "\n", "\r\n" and "\r". The next line feed and
// the next carriage return are looked up only once passed, so the text is
// read in one pass whatever its line ends.
void splitLines(std::string_view text, Lines& lines) {
    const char* at = text.data();
    const char* const end = at + text.size();
    const char* feed = nullptr;
    const char* ret = nullptr;
    auto next = [&end](const char* from, char c) {
        const void* found = memchr(from, c, static_cast<size_t>(end - from));
        return found ? static_cast<const char*>(found) : end;
    };
    lines.reserve(text.size() / 32 + 1);
    while (at < end) {
        if (!feed || feed < at) feed = next(at, '\n');
        if (!ret || ret < at) ret = next(at, '\r');
        const char* stop = feed < ret ? feed : ret;
        lines.emplace_back(at, static_cast<size_t>(stop - at));
        if (stop == end) break;
        at = stop + 1;
        if (*stop == '\r' && at < end && *at == '\n') ++at;
    }
}

// Every distinct line text gets one number, in the order first seen; the
// texts stay where they are (in the caller's strings).
class LineTable {
public:
    explicit LineTable(size_t lines) {
        size_t capacity = 16;
        while (capacity < 2 * lines) capacity <<= 1;
        slots.assign(capacity, 0);
        mask = capacity - 1;
        texts.reserve(lines);
        hashes.reserve(lines);
    }
    unsigned idOf(std::string_view line) {
        const size_t hash = std::hash<std::string_view>()(line);
        for (size_t at = hash & mask;; at = (at + 1) & mask) {
            const unsigned slot = slots[at];
            if (slot == 0) {
                texts.push_back(line);
                hashes.push_back(hash);
                const unsigned id = static_cast<unsigned>(texts.size()) - 1;
                slots[at] = id + 1;
                return id;
            }
            if (hashes[slot - 1] == hash && texts[slot - 1] == line) return slot - 1;
        }
    }
    std::string_view text(unsigned id) const { return texts[id]; }
    size_t size() const { return texts.size(); }

private:
    std::vector<unsigned> slots;  // line number + 1, 0 for a free slot
    size_t mask = 0;
    std::vector<std::string_view> texts;
    std::vector<size_t> hashes;
};

// A part of both texts compared on its own: lines [a0, a1) of the first
// and [b0, b1) of the second.
struct Piece {
    size_t a0, a1, b0, b1;
};

class Comparison {
public:
    Comparison(std::string_view first, std::string_view second) {
        splitLines(first, linesA);
        splitLines(second, linesB);
    }

    std::string hunks(size_t pathLimit) {
        const size_t m = linesA.size(), n = linesB.size();
        size_t head = 0;
        while (head < m && head < n && linesA[head] == linesB[head]) ++head;
        if (head == m && head == n) return "";
        size_t tail = 0;
        while (tail < m - head && tail < n - head && linesA[m - 1 - tail] == linesB[n - 1 - tail]) ++tail;
        // Of the common head three lines stay, the context of a first hunk.
        // dtl's search runs along the common lines it starts on before it
        // looks at anything else, so leaving out the ones before changes
        // nothing but the line numbers.
        base = head > 3 ? head - 3 : 0;
        const size_t keep = tailToKeep(tail);
        number(m - tail + keep, n - tail + keep);
        const Piece middle{0, a.size(), 0, b.size()};
        std::string out;
        if (leastPathPoints(middle) < pathLimit)
            print(middle, out);
        else
            for (const Piece& piece : cut(middle, pathLimit)) print(piece, out);
        return out;
    }

private:
    // The common tail is left out from five lines after a line in it that
    // each text (from the base on) has only once. Every shortest difference
    // keeps that line and all after it as common lines, so dtl has no
    // choice to make after it; the five lines that stay are the three of
    // context and the two after them dtl looks at to end the hunk.
    size_t tailToKeep(size_t tail) const {
        static const size_t kContext = 5, kTries = 64;
        auto onlyOnce = [this](const Lines& lines, std::string_view line) {
            size_t count = 0;
            for (size_t i = base; i < lines.size(); ++i)
                if (lines[i].size() == line.size() && lines[i] == line && ++count > 1) return false;
            return count == 1;
        };
        for (size_t t = 0; t + kContext < tail && t < kTries; ++t) {
            const std::string_view line = linesA[linesA.size() - tail + t];
            if (onlyOnce(linesA, line) && onlyOnce(linesB, line)) return t + kContext;
        }
        return tail;
    }

    // Numbers the lines from the base to endA and endB; the views of the
    // lines are dropped, the table keeps the texts.
    void number(size_t endA, size_t endB) {
        table = std::make_unique<LineTable>(endA + endB - 2 * base);
        a.reserve(endA - base);
        b.reserve(endB - base);
        for (size_t i = base; i < endA; ++i) a.push_back(table->idOf(linesA[i]));
        for (size_t j = base; j < endB; ++j) b.push_back(table->idOf(linesB[j]));
        Lines().swap(linesA);
        Lines().swap(linesB);
        inA.assign(table->size(), 0);
        inB.assign(table->size(), 0);
        for (unsigned id : a) ++inA[id];
        for (unsigned id : b) ++inB[id];
    }

    bool once(unsigned id) const { return inA[id] == 1 && inB[id] == 1; }

    // The fewest path points dtl's search can record for the piece: the
    // difference has at least the lines whose counts in the two parts
    // differ, and every round of the search records two points more.
    size_t leastPathPoints(const Piece& piece) const {
        std::vector<long> balance(table->size(), 0);
        for (size_t i = piece.a0; i < piece.a1; ++i) ++balance[a[i]];
        for (size_t j = piece.b0; j < piece.b1; ++j) --balance[b[j]];
        size_t least = 0;
        for (long count : balance) least += static_cast<size_t>(count < 0 ? -count : count);
        const size_t m = piece.a1 - piece.a0, n = piece.b1 - piece.b0;
        const size_t delta = m > n ? m - n : n - m;
        const size_t rounds = (least - delta) / 2;
        return (rounds + 1) * (delta + 1) + rounds * (rounds + 1);
    }

    // Pieces of at least as many lines as the square root of the path
    // limit (a piece of that many lines that differ in every line needs
    // about as many path points), cut in a run of eight common lines
    // whose first line each text has once: the piece before the cut ends in
    // five common lines every shortest difference keeps (three of context,
    // two dtl looks at to end a hunk), the one after begins with three that
    // dtl's search runs along first, so no hunk reaches over the cut and
    // the pieces' hunks put together are the hunks of their differences
    // put together.
    std::vector<Piece> cut(const Piece& whole, size_t pathLimit) const {
        static const size_t kRun = 8, kEnd = 5;
        size_t pieceLines = 2 * kRun;
        while (pieceLines * pieceLines < pathLimit) ++pieceLines;
        std::vector<size_t> inSecond(table->size(), 0);
        for (size_t j = whole.b0; j < whole.b1; ++j)
            if (once(b[j])) inSecond[b[j]] = j;
        std::vector<Piece> pieces;
        size_t startA = whole.a0, startB = whole.b0;
        for (size_t i = startA + pieceLines; i + kRun <= whole.a1; ++i) {
            if (!once(a[i])) continue;
            const size_t j = inSecond[a[i]];
            if (j < startB + kRun || j + kRun > whole.b1 || !std::equal(&a[i], &a[i] + kRun, &b[j])) continue;
            pieces.push_back({startA, i + kEnd, startB, j + kEnd});
            startA = i + kEnd;
            startB = j + kEnd;
            i = startA + pieceLines - 1;
        }
        pieces.push_back({startA, whole.a1, startB, whole.b1});
        return pieces;
    }

    // dtl's hunks for the piece, their line numbers counted in the whole
    // texts.
    void print(const Piece& piece, std::string& out) const {
        const size_t m = piece.a1 - piece.a0, n = piece.b1 - piece.b0;
        if (m == n && std::equal(a.begin() + static_cast<long>(piece.a0), a.begin() + static_cast<long>(piece.a1),
                                 b.begin() + static_cast<long>(piece.b0)))
            return;
        dtl::Diff<unsigned, LineIds> diff(
            LineIds(a.begin() + static_cast<long>(piece.a0), a.begin() + static_cast<long>(piece.a1)),
            LineIds(b.begin() + static_cast<long>(piece.b0), b.begin() + static_cast<long>(piece.b1)));
        // dtl's large-input mode only reserves room for its whole path limit
        // up front; a piece too small to come near it does without.
        if ((m + n) * (m + n) >= UnifiedHunks::dtlPathLimit) diff.onHuge();
        diff.compose();
        diff.composeUnifiedHunks();
        auto addLines = [&out, this](const std::vector<std::pair<unsigned, dtl::elemInfo>>& elems) {
            for (const auto& e : elems) {
                out += e.second.type == dtl::SES_ADD ? '+' : e.second.type == dtl::SES_DELETE ? '-' : ' ';
                out.append(table->text(e.first));
                out += '\n';
            }
        };
        for (const auto& hunk : diff.getUniHunks()) {
            out += "@@ -";
            out += std::to_string(hunk.a + static_cast<long long>(base + piece.a0));
            out += ',';
            out += std::to_string(hunk.b);
            out += " +";
            out += std::to_string(hunk.c + static_cast<long long>(base + piece.b0));
            out += ',';
            out += std::to_string(hunk.d);
            out += " @@\n";
            addLines(hunk.common[0]);
            addLines(hunk.change);
            addLines(hunk.common[1]);
        }
    }

    Lines linesA, linesB;
    size_t base = 0;  // the lines before it are left out of both texts
    std::unique_ptr<LineTable> table;
    LineIds a, b;                    // the numbers of the lines from the base on
    std::vector<unsigned> inA, inB;  // how often each number occurs in a and b
};
}  // namespace

std::string UnifiedHunks::between(std::string_view first, std::string_view second, size_t pathLimit) {
    return Comparison(first, second).hunks(pathLimit);
}
