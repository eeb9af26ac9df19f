package com.quillon.maven;

import java.util.ArrayList;
import java.util.List;

/**
 * {@code <serviceRestart>}: {@code <enabled>false</enabled>} turns restarts off; otherwise
 * {@code <delays><delay>1</delay>...</delays>}, {@code <resetAfter>} and {@code <limit>} in
 * seconds and restarts, each optional.
 */
public class ServiceRestart {
    private String enabled;
    private List<String> delays;
    private String resetAfter;
    private String limit;

    Object toJson() {
        if ("false".equals(enabled)) {
            return Boolean.FALSE;
        }
        if (delays == null && resetAfter == null && limit == null) {
            return enabled == null ? Boolean.TRUE : ConfigJson.flag(enabled);
        }
        List<Object> seconds = null;
        if (delays != null) {
            seconds = new ArrayList<>();
            for (String delay : delays) {
                seconds.add(ConfigJson.whole(delay));
            }
        }
        return ConfigJson.object("delays", seconds, "resetAfter", ConfigJson.whole(resetAfter), "limit",
                ConfigJson.whole(limit));
    }
}
