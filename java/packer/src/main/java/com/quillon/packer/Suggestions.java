package com.quillon.packer;

import java.util.Collection;
import java.util.Locale;

/** The known name a misspelt setting or field was probably meant to be. */
final class Suggestions {

    private Suggestions() {
    }

    /**
     * The known name nearest to {@code name}, ignoring letter case, when it is near enough to be
     * a typing mistake; null otherwise. Ties go to the name listed first.
     */
    static String closest(String name, Collection<String> known) {
        String typed = name.toLowerCase(Locale.ROOT);
        int allowed = Math.max(1, Math.min(3, typed.length() / 3));
        String best = null;
        int bestDistance = Integer.MAX_VALUE;
        for (String candidate : known) {
            // Lengths that differ by more than the allowance cannot be near; a long typed name
            // costs no quadratic table then.
            if (Math.abs(candidate.length() - typed.length()) > allowed) {
                continue;
            }
            int distance = distance(typed, candidate.toLowerCase(Locale.ROOT));
            if (distance < bestDistance) {
                best = candidate;
                bestDistance = distance;
            }
        }
        return bestDistance <= allowed ? best : null;
    }

    /** "unknown field "x"; did you mean y? expected a, b" with the hint only when there is one. */
    static String unknownField(String where, String name, Collection<String> allowed) {
        String near = closest(name, allowed);
        return where + ": unknown field \"" + name + "\"; " + (near == null ? "" : "did you mean " + near + "? ")
                + "expected " + String.join(", ", allowed);
    }

    /** Edit distance counting a swap of two neighbouring letters as one edit. */
    static int distance(String a, String b) {
        int[][] d = new int[a.length() + 1][b.length() + 1];
        for (int i = 0; i <= a.length(); i++) {
            d[i][0] = i;
        }
        for (int j = 0; j <= b.length(); j++) {
            d[0][j] = j;
        }
        for (int i = 1; i <= a.length(); i++) {
            for (int j = 1; j <= b.length(); j++) {
                int cost = a.charAt(i - 1) == b.charAt(j - 1) ? 0 : 1;
                d[i][j] = Math.min(Math.min(d[i - 1][j] + 1, d[i][j - 1] + 1), d[i - 1][j - 1] + cost);
                if (i > 1 && j > 1 && a.charAt(i - 1) == b.charAt(j - 2) && a.charAt(i - 2) == b.charAt(j - 1)) {
                    d[i][j] = Math.min(d[i][j], d[i - 2][j - 2] + 1);
                }
            }
        }
        return d[a.length()][b.length()];
    }
}
