package com.quillon.runtime.launcher;

import java.util.ArrayList;
import java.util.List;

/**
 * Splits a command line the way the launchers do, so that the words a second instance hands
 * over arrive as its {@code main} would have received them: blanks separate words, a double or
 * single quote groups up to the next quote of the same kind, a quoted part joins the text
 * right before it, text right after a closing quote starts a new word, and a backslash is an
 * ordinary character.
 */
public final class CommandLine {

    private CommandLine() {
    }

    public static List<String> split(String text) {
        List<String> words = new ArrayList<>();
        int p = 0;
        while (p < text.length()) {
            int doubleQuote = text.indexOf('"', p);
            int singleQuote = text.indexOf('\'', p);
            int space = text.indexOf(' ', p);
            if (text.charAt(p) == ' ') {
                p++;
            } else if (space >= 0 && before(space, doubleQuote) && before(space, singleQuote)) {
                words.add(text.substring(p, space));
                p = space + 1;
            } else if (doubleQuote >= 0 || singleQuote >= 0) {
                int open = doubleQuote >= 0 && before(doubleQuote, singleQuote) ? doubleQuote : singleQuote;
                int close = text.indexOf(text.charAt(open), open + 1);
                if (close < 0) {
                    close = text.length();
                }
                words.add(text.substring(p, open) + text.substring(open + 1, close));
                if (close >= text.length()) {
                    p = text.length();
                } else if (close + 1 < text.length() && text.charAt(close + 1) == ' ') {
                    p = close + 2;
                } else {
                    p = close + 1;
                }
            } else {
                words.add(text.substring(p));
                p = text.length();
            }
        }
        return words;
    }

    /** True when position {@code a} comes before {@code b}, a missing {@code b} (-1) coming last. */
    private static boolean before(int a, int b) {
        return b < 0 || a < b;
    }
}
