#pragma once

#include <string>
#include <string_view>
#include <vector>

// The rules of CommandLineToArgvW and the C runtime, for a child that reads its words that
// way: blanks and tabs separate words, double quotes group, 2n backslashes before a quote
// give n backslashes and the quote groups, 2n+1 give n backslashes and a literal quote, a
// doubled quote inside a group is a literal quote, and other backslashes are literal. The
// first word, the program path, ends at the next blank or closing quote and knows no
// escapes. Char is wchar_t on Windows, char16_t or char in tests.

template <class Char>
bool isWindowsBlank(Char c) {
    return c == Char(' ') || c == Char('\t');
}

// One word quoted so that the splitter below gives it back unchanged, whatever it holds.
template <class Char>
std::basic_string<Char> quoteWindowsArgument(std::basic_string_view<Char> word) {
    constexpr Char kQuote = '"', kBackslash = '\\';
    bool plain = !word.empty();
    for (Char c : word) {
        if (isWindowsBlank(c) || c == kQuote || c == Char('\n') || c == Char('\v'))
            plain = false;
    }
    if (plain)
        return std::basic_string<Char>(word);
    std::basic_string<Char> quoted(1, kQuote);
    size_t backslashes = 0;
    for (Char c : word) {
        if (c == kBackslash) {
            ++backslashes;
            continue;
        }
        // Backslashes count only before a quote: there they are doubled, and one more
        // escapes the quote itself.
        if (c == kQuote)
            quoted.append(backslashes * 2 + 1, kBackslash);
        else
            quoted.append(backslashes, kBackslash);
        backslashes = 0;
        quoted.push_back(c);
    }
    // The closing quote follows: the trailing backslashes are doubled.
    quoted.append(backslashes * 2, kBackslash);
    quoted.push_back(kQuote);
    return quoted;
}

// The program path, quoted when it holds a blank; a path never holds a quote.
template <class Char>
std::basic_string<Char> quoteWindowsProgram(std::basic_string_view<Char> path) {
    for (Char c : path) {
        if (isWindowsBlank(c))
            return Char('"') + std::basic_string<Char>(path) + Char('"');
    }
    return std::basic_string<Char>(path);
}

template <class Char>
std::basic_string<Char> joinWindowsCommandLine(const std::vector<std::basic_string<Char>>& words) {
    std::basic_string<Char> line;
    for (size_t i = 0; i < words.size(); ++i) {
        if (i > 0)
            line.push_back(Char(' '));
        std::basic_string_view<Char> word(words[i]);
        line += i == 0 ? quoteWindowsProgram(word) : quoteWindowsArgument(word);
    }
    return line;
}

template <class Char>
std::vector<std::basic_string<Char>> splitWindowsCommandLine(std::basic_string_view<Char> text) {
    constexpr Char kQuote = '"', kBackslash = '\\';
    std::vector<std::basic_string<Char>> words;
    size_t p = 0;
    // The program path.
    std::basic_string<Char> program;
    if (p < text.size() && text[p] == kQuote) {
        size_t close = text.find(kQuote, p + 1);
        size_t end = close == std::basic_string_view<Char>::npos ? text.size() : close;
        program.assign(text.substr(p + 1, end - p - 1));
        p = end < text.size() ? end + 1 : end;
    } else {
        while (p < text.size() && !isWindowsBlank(text[p]))
            program.push_back(text[p++]);
    }
    words.push_back(std::move(program));
    while (true) {
        while (p < text.size() && isWindowsBlank(text[p]))
            ++p;
        if (p >= text.size())
            break;
        std::basic_string<Char> word;
        bool quoted = false;
        while (p < text.size() && (quoted || !isWindowsBlank(text[p]))) {
            if (text[p] == kBackslash) {
                size_t run = 0;
                while (p < text.size() && text[p] == kBackslash) {
                    ++run;
                    ++p;
                }
                if (p < text.size() && text[p] == kQuote) {
                    word.append(run / 2, kBackslash);
                    if (run % 2 == 1) {
                        word.push_back(kQuote);
                        ++p;
                    }
                } else {
                    word.append(run, kBackslash);
                }
            } else if (text[p] == kQuote) {
                if (quoted && p + 1 < text.size() && text[p + 1] == kQuote) {
                    word.push_back(kQuote);
                    p += 2;
                } else {
                    quoted = !quoted;
                    ++p;
                }
            } else {
                word.push_back(text[p++]);
            }
        }
        words.push_back(std::move(word));
    }
    return words;
}
