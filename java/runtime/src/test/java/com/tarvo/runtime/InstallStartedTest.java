package com.tarvo.runtime;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.Arrays;
import org.junit.jupiter.api.Test;

class InstallStartedTest {

    @Test
    void valueNameIsTheDecimalProcessId() {
        assertEquals("InstallStarted_4242", InstallStarted.valueName(4242));
        assertTrue(InstallStarted.processId() > 0);
        assertEquals("InstallStarted_" + InstallStarted.processId(), InstallStarted.valueName());
    }

    @Test
    void commandWritesTwoWithTheSystemsRegExe() {
        assertEquals(Arrays.asList("C:\\windows\\System32\\reg.exe", "add",
                "HKCU\\SOFTWARE\\brightwell\\tarvo", "/v", "InstallStarted_17", "/t", "REG_DWORD",
                "/d", "2", "/f"), InstallStarted.command("C:\\windows", 17));
    }
}
