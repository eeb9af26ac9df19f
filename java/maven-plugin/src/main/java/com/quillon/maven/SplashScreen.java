package com.quillon.maven;

import java.io.File;
import org.apache.maven.plugin.MojoFailureException;

/** {@code <splashScreen>}: the image the launcher shows while Java starts. */
public class SplashScreen {
    private File image;
    private String runtimeLibrary;
    private String autoOff;
    private String alwaysOnTop;
    private SplashText statusText;
    private SplashText secondText;

    Object toJson() throws MojoFailureException {
        return ConfigJson.object("image", ConfigJson.path(image), "runtimeLibrary", ConfigJson.flag(runtimeLibrary),
                "autoOff", ConfigJson.flag(autoOff), "alwaysOnTop", ConfigJson.flag(alwaysOnTop),
                "statusText", statusText == null ? null : statusText.toJson(),
                "secondText", secondText == null ? null : secondText.toJson());
    }
}
