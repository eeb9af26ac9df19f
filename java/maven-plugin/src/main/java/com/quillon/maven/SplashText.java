package com.quillon.maven;

/** A line of text on the splash screen; {@code color} is "red,green,blue". */
public class SplashText {
    private String text;
    private Integer x;
    private Integer y;
    private String font;
    private Integer size;
    private Integer weight;
    private String color;

    Object toJson() throws org.apache.maven.plugin.MojoFailureException {
        return ConfigJson.object("text", text, "x", x, "y", y, "font", font, "size", size, "weight", weight,
                "color", ConfigJson.color(color));
    }
}
