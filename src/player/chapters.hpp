// Chapters of the media: which one holds a position, which titles mark an opening
// that "Saltar intro" skips, and where chapter steps lead.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace brindlemar {

// Whether a chapter's title names the opening of an episode, in Spanish or English:
// "Intro", "Opening", "OP", "Introducción", "Cabecera", "Créditos iniciales", ...
// The whole title must be such a name, compared without case, accents or
// punctuation; a number may lead ("01 - Intro") or follow ("OP1", "Opening 2").
// "Introduction to Algebra", "Operation Midnight" or "Opera" are not openings.
bool isOpeningTitle(const std::string& title);

// The chapter that holds `position`: the last to start at or before it (a position a
// hair before a start, as an exact seek to it may report, counts as after it).
// Nothing before the first chapter, without chapters, or for a position that is not
// a number. The chapters may come in any order; the index is into the given list.
std::optional<std::size_t> chapterAt(const std::vector<Chapter>& chapters, double position);

// Where "Saltar intro" goes from `position`: the start of the chapter that follows
// the opening being played, or the end (`duration`) when the opening is the last
// chapter. Nothing when the chapter played is not an opening, or the end is needed
// and not known.
std::optional<double> skipIntroTarget(const std::vector<Chapter>& chapters, double position,
                                      std::optional<double> duration);

// Where the next (direction > 0) or previous chapter key goes from `position`: the
// next chapter's start; back, the current chapter's start when more than 3 s of it
// have played or it is the first, else the previous chapter's start. Nothing past
// the last chapter going on, before the first going back, or without chapters.
std::optional<double> chapterStepTarget(const std::vector<Chapter>& chapters, double position, int direction);

}  // namespace brindlemar
