#pragma once
#include <cstddef>
#include <string>
#include <string_view>

// UnifiedHunks prints the difference between two texts, read as lines, in
// dtl's unified format: hunks with three lines of context, a header
// "@@ -a,b +c,d @@" each, no file headers. Lines end in "\n", "\r\n" or "\r";
// a last line without a line end counts, a final line end adds no empty line.
//
// dtl does the difference, but it is fed only what it needs: every distinct
// line becomes a small number (both texts share one table), the common head
// and tail are left out except for the context the hunks need, and only the
// numbers of the part in between go to dtl; the hunks are then printed from
// the original lines with their line numbers corrected. The hunks are the
// ones dtl prints for the whole texts. Only where dtl could not find the
// shortest difference in one go anyway (it gives up after dtlPathLimit path
// points and restarts from where it got) is the part in between cut into
// pieces at runs of lines that occur once in each text, each piece compared
// on its own: the hunks still turn the first text into the second (and,
// unlike dtl's after its second restart, their line numbers are right).
class UnifiedHunks {
public:
    // dtl's own limit of path points for one search.
    static const size_t dtlPathLimit;

    // The hunks between first and second (empty when they have the same
    // lines). pathLimit only moves the point at which the texts are compared
    // in pieces (tests use a small one).
    static std::string between(std::string_view first, std::string_view second, size_t pathLimit = dtlPathLimit);
};
