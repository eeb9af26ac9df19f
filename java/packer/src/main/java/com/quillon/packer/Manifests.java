package com.quillon.packer;

import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.List;

/** The application manifest (RT_MANIFEST 1) the packer writes unless the config brings its own. */
final class Manifests {

    static final int RT_MANIFEST = 24;
    static final int APPLICATION_MANIFEST = 1;
    static final List<String> EXECUTION_LEVELS = Arrays.asList("asInvoker", "highestAvailable",
            "requireAdministrator");

    private Manifests() {
    }

    /**
     * Per-monitor DPI awareness (sharp text on high-DPI screens), long paths, Common Controls 6
     * (themed controls in the launcher's own dialogs) and the systems the launchers were tested
     * on, so that Windows does not run them in a compatibility mode.
     */
    static byte[] standard(String executionLevel) {
        String xml = String.join("\r\n",
                "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>",
                "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">",
                "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">",
                "    <security>",
                "      <requestedPrivileges>",
                "        <requestedExecutionLevel level=\"" + executionLevel + "\" uiAccess=\"false\"/>",
                "      </requestedPrivileges>",
                "    </security>",
                "  </trustInfo>",
                "  <compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">",
                "    <application>",
                "      <supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",
                "      <supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>",
                "      <supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>",
                "      <supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",
                "      <supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>",
                "    </application>",
                "  </compatibility>",
                "  <application xmlns=\"urn:schemas-microsoft-com:asm.v3\">",
                "    <windowsSettings>",
                "      <dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>",
                "      <dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">"
                        + "PerMonitorV2, PerMonitor</dpiAwareness>",
                "      <longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">"
                        + "true</longPathAware>",
                "    </windowsSettings>",
                "  </application>",
                "  <dependency>",
                "    <dependentAssembly>",
                "      <assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""
                        + " processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>",
                "    </dependentAssembly>",
                "  </dependency>",
                "</assembly>",
                "");
        return xml.getBytes(StandardCharsets.UTF_8);
    }

    /** The same attributes as an object for {@code inspect --json}. */
    static java.util.Map<String, Object> attributes(byte[] manifest) {
        java.util.Map<String, Object> o = new java.util.LinkedHashMap<>();
        String xml = new String(manifest, StandardCharsets.UTF_8);
        o.put("executionLevel", attribute(xml, "requestedExecutionLevel", "level"));
        o.put("dpiAwareness", element(xml, "dpiAwareness"));
        o.put("dpiAware", element(xml, "dpiAware"));
        o.put("longPathAware", element(xml, "longPathAware"));
        o.put("commonControls6", xml.contains("Microsoft.Windows.Common-Controls"));
        o.put("size", manifest.length);
        return o;
    }

    /** A few attributes of a manifest for {@code inspect}: execution level, DPI and long paths. */
    static String summary(byte[] manifest) {
        String xml = new String(manifest, StandardCharsets.UTF_8);
        StringBuilder sb = new StringBuilder();
        append(sb, "executionLevel", attribute(xml, "requestedExecutionLevel", "level"));
        append(sb, "dpiAwareness", element(xml, "dpiAwareness"));
        append(sb, "dpiAware", element(xml, "dpiAware"));
        append(sb, "longPathAware", element(xml, "longPathAware"));
        append(sb, "commonControls6", xml.contains("Microsoft.Windows.Common-Controls") ? "yes" : null);
        return sb.toString();
    }

    private static void append(StringBuilder sb, String name, String value) {
        if (value != null) {
            sb.append(sb.length() == 0 ? "" : ", ").append(name).append('=').append(value);
        }
    }

    static String attribute(String xml, String element, String attribute) {
        int at = xml.indexOf("<" + element);
        if (at < 0) {
            return null;
        }
        int end = xml.indexOf('>', at);
        String tag = xml.substring(at, end < 0 ? xml.length() : end);
        int a = tag.indexOf(attribute + "=\"");
        if (a < 0) {
            return null;
        }
        int start = a + attribute.length() + 2;
        int close = tag.indexOf('"', start);
        return close < 0 ? null : tag.substring(start, close);
    }

    static String element(String xml, String element) {
        int at = xml.indexOf("<" + element);
        if (at < 0) {
            return null;
        }
        int start = xml.indexOf('>', at);
        int end = xml.indexOf("</" + element, start);
        return start < 0 || end < 0 ? null : xml.substring(start + 1, end).trim();
    }
}
