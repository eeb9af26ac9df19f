package com.quillon.maven;

import java.util.Map;

/** {@code <versionInfo>}: the version resource Explorer shows; unset fields come from the POM. */
public class VersionInfo {
    private String fileVersion;
    private String productVersion;
    private String productName;
    private String companyName;
    private String fileDescription;
    private String copyright;
    private String originalFilename;
    private String internalName;

    Map<String, Object> toJson() {
        return ConfigJson.object("fileVersion", fileVersion, "productVersion", productVersion,
                "productName", productName, "companyName", companyName, "fileDescription", fileDescription,
                "copyright", copyright, "originalFilename", originalFilename, "internalName", internalName);
    }
}
