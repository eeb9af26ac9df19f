package com.quillon.maven;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.util.LinkedHashMap;
import java.util.Map;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/** A service launcher built with every supervision setting, checked with the packer's inspect. */
class ServiceGoalTest {

    @BeforeAll
    static void needsStubs() {
        assumeTrue(ChildBuild.haveStubs(), "the launcher stubs are not built (make native)");
    }

    @Test
    @SuppressWarnings("unchecked")
    void everyServiceSettingReachesItsKey() throws Exception {
        ChildBuild.Result build = ChildBuild.run("demo", "service",
                "<launcher>service</launcher>"
                        + "<serviceStopTimeout>3</serviceStopTimeout>"
                        + "<serviceRestart><delays><delay>1</delay><delay>5</delay><delay>30</delay></delays>"
                        + "<resetAfter>600</resetAfter><limit>4</limit></serviceRestart>"
                        + "<serviceLog>D:\\Demo\\logs</serviceLog>"
                        + "<serviceLogMaxSize>10MB</serviceLogMaxSize>"
                        + "<serviceLogKeep>3</serviceLogKeep>"
                        + "<serviceAccount>virtual</serviceAccount>"
                        + "<serviceInteractive>false</serviceInteractive>"
                        + "<serviceStart>delayed</serviceStart>"
                        + "<servicePreshutdownTimeout>60</servicePreshutdownTimeout>"
                        + "<serviceEnvironment><DEMO_HOME>D:\\Demo</DEMO_HOME>"
                        + "<DEMO_MODE>service</DEMO_MODE></serviceEnvironment>",
                "package", "-Dmaven.test.skip=true");
        assertEquals(0, build.exitCode, build.output);
        Map<String, Object> keys = (Map<String, Object>) ChildBuild.inspect(
                build.project.resolve("target/demo-app-2.5.1.exe")).get("keys");
        Map<String, Object> expected = new LinkedHashMap<>();
        expected.put("11001", "3");
        expected.put("11002", "1");
        expected.put("11003", "1,5,30");
        expected.put("11004", "600");
        expected.put("11005", "4");
        expected.put("11006", "D:\\Demo\\logs");
        expected.put("11007", "10485760");
        expected.put("11008", "3");
        expected.put("11009", "virtual");
        expected.put("11010", "0");
        expected.put("11011", "delayed");
        expected.put("11012", "60");
        expected.put("11013", "DEMO_HOME=D:\\Demo\nDEMO_MODE=service");
        Map<String, Object> found = new LinkedHashMap<>();
        for (String key : expected.keySet()) {
            found.put(key, keys.get(key));
        }
        assertEquals(expected, found);
    }
}
