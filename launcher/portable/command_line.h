#pragma once

#include <string>
#include <string_view>
#include <vector>

// Splits a command line into words by the launchers' own rules: blanks separate words,
// double quotes group anywhere and single quotes only where they open a word (the other
// quote is then an ordinary character), a quoted part joins the plain text before it, text
// right after a closing quote starts a new word, and a backslash means nothing. A single
// quote inside a word is an ordinary character, as in "Bob's.txt" or "don't".
// Char is wchar_t on Windows, char16_t or char in tests.
template <class Char>
void splitCommandLine(std::basic_string_view<Char> text,
                      std::vector<std::basic_string<Char>>& words) {
    using View = std::basic_string_view<Char>;
    constexpr Char kSpace = ' ', kDouble = '"', kSingle = '\'';
    const size_t npos = View::npos;
    size_t p = 0;
    while (p < text.size()) {
        size_t dq = text.find(kDouble, p);
        size_t sq = text[p] == kSingle ? p : npos;
        size_t sp = text.find(kSpace, p);
        if (text[p] == kSpace) {
            ++p;
        } else if (sp != npos && sp < dq && sp < sq) {
            words.emplace_back(text.substr(p, sp - p));
            p = sp + 1;
        } else if (dq != npos || sq != npos) {
            size_t open = (dq != npos && (sq == npos || dq < sq)) ? dq : sq;
            size_t close = text.find(text[open], open + 1);
            if (close == npos)
                close = text.size();
            std::basic_string<Char> word(text.substr(p, open - p));
            word.append(text.substr(open + 1, close - open - 1));
            words.push_back(std::move(word));
            if (close >= text.size())
                p = text.size();
            else if (close + 1 < text.size() && text[close + 1] == kSpace)
                p = close + 2;
            else
                p = close + 1;
        } else {
            words.emplace_back(text.substr(p));
            p = text.size();
        }
    }
}
