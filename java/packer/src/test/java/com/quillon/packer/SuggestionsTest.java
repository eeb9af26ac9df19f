package com.quillon.packer;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;

import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

class SuggestionsTest {

    private static final List<String> KNOWN = Arrays.asList("mainClass", "classPath", "minJavaVersion",
            "maxJavaVersion", "icon", "keys", "wideKeys");

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', value = {
        "mainclass       | mainClass",
        "MAINCLASS       | mainClass",
        "mainClas        | mainClass",
        "mianClass       | mainClass",
        "classpath       | classPath",
        "minJavaVersoin  | minJavaVersion",
        "maxJavaVerison  | maxJavaVersion",
        "icons           | icon",
        "key             | keys",
        "widekeys        | wideKeys",
    })
    void namesTheNearestKnownName(String typed, String expected) {
        assertEquals(expected, Suggestions.closest(typed, KNOWN));
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource({"colour", "x", "applicationName", "version"})
    void suggestsNothingForAFarName(String typed) {
        assertNull(Suggestions.closest(typed, KNOWN));
    }

    @Test
    void aHugeNameIsComparedWithoutATable() {
        String huge = String.join("", Collections.nCopies(1 << 20, "m"));
        assertNull(Suggestions.closest(huge, KNOWN));
    }
}
