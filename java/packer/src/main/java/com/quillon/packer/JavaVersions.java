package com.quillon.packer;

import java.util.ArrayList;
import java.util.List;

/**
 * Java version bounds as the launchers compare them: split at ".", "_", "-" and "+" into
 * components, digit components by value and below any other component, which compare
 * character by character; a bound matches as a prefix, so "1.8" takes in "1.8.0_101".
 */
final class JavaVersions {

    private JavaVersions() {
    }

    /** A bound the launchers can match: a number first, then only letters, digits and separators. */
    static boolean isVersion(String bound) {
        if (bound.isEmpty() || !isDigit(bound.charAt(0))) {
            return false;
        }
        for (int i = 0; i < bound.length(); i++) {
            char c = bound.charAt(i);
            if (!isDigit(c) && !(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z') && !isSeparator(c)) {
                return false;
            }
        }
        return true;
    }

    /**
     * Whether no version lies between the two bounds. The minimum itself passes the minimum, so
     * the range holds a version exactly when the minimum does not lie above the maximum.
     */
    static boolean isEmptyRange(String min, String max) {
        return compareToBound(min, max) > 0;
    }

    /** The version's first components against all of the bound's; a shorter version sorts below. */
    static int compareToBound(String version, String bound) {
        List<String> a = components(version);
        List<String> b = components(bound);
        for (int i = 0; i < b.size(); i++) {
            if (i >= a.size()) {
                return -1;
            }
            int order = compareComponents(a.get(i), b.get(i));
            if (order != 0) {
                return order;
            }
        }
        return 0;
    }

    static List<String> components(String version) {
        List<String> components = new ArrayList<>();
        int start = 0;
        for (int i = 0; i <= version.length(); i++) {
            if (i == version.length() || isSeparator(version.charAt(i))) {
                if (i > start) {
                    components.add(version.substring(start, i));
                }
                start = i + 1;
            }
        }
        return components;
    }

    private static int compareComponents(String a, String b) {
        boolean aDigits = isDigits(a);
        boolean bDigits = isDigits(b);
        if (aDigits != bDigits) {
            return aDigits ? -1 : 1;
        }
        if (aDigits) {
            a = a.replaceFirst("^0+", "");
            b = b.replaceFirst("^0+", "");
            if (a.length() != b.length()) {
                return a.length() < b.length() ? -1 : 1;
            }
        }
        return Integer.signum(a.compareTo(b));
    }

    private static boolean isDigits(String text) {
        for (int i = 0; i < text.length(); i++) {
            if (!isDigit(text.charAt(i))) {
                return false;
            }
        }
        return !text.isEmpty();
    }

    private static boolean isDigit(char c) {
        return c >= '0' && c <= '9';
    }

    private static boolean isSeparator(char c) {
        return c == '.' || c == '_' || c == '-' || c == '+';
    }
}
