package com.quillon.maven;

/** A line of text on the splash screen; {@code color} is "red,green,blue". */
public class SplashText {
    private String text;
    private String x;
    private String y;
    private String font;
    private String size;
    private String weight;
    private String color;

    Object toJson() throws org.apache.maven.plugin.MojoFailureException {
        return ConfigJson.object("text", text, "x", ConfigJson.whole(x), "y", ConfigJson.whole(y), "font", font,
                "size", ConfigJson.whole(size), "weight", ConfigJson.whole(weight),
                "color", ConfigJson.color(color));
    }
}
