package com.quillon.packer;

import java.math.BigDecimal;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/** The service launcher's supervision: stop time-out, restart, output logs, account, start and environment. */
final class ServiceSettings {

    static final int KEY_STOP_TIMEOUT = 11001;
    static final int KEY_RESTART = 11002;
    static final int KEY_RESTART_DELAYS = 11003;
    static final int KEY_RESTART_RESET_AFTER = 11004;
    static final int KEY_RESTART_LIMIT = 11005;
    static final int KEY_LOG = 11006;
    static final int KEY_LOG_MAX_SIZE = 11007;
    static final int KEY_LOG_KEEP = 11008;
    static final int KEY_ACCOUNT = 11009;
    static final int KEY_INTERACTIVE = 11010;
    static final int KEY_START = 11011;
    static final int KEY_PRESHUTDOWN_TIMEOUT = 11012;
    static final int KEY_ENVIRONMENT = 11013;

    static final List<String> NAMES = Arrays.asList("serviceStopTimeout", "serviceRestart", "serviceLog",
            "serviceLogMaxSize", "serviceLogKeep", "serviceAccount", "serviceInteractive", "serviceStart",
            "servicePreshutdownTimeout", "serviceEnvironment");

    /** The launcher waits at most a day for anything; longer values would only hide a mistake. */
    private static final long MAX_SECONDS = 86400;
    private static final Pattern SIZE = Pattern.compile("([0-9]+)\\s*(|B|KB|MB|GB)", Pattern.CASE_INSENSITIVE);

    private ServiceSettings() {
    }

    static void apply(Map<String, Object> settings, Map<Integer, String> narrow, ProductSettings p)
            throws PackerException {
        Object stop = settings.get("serviceStopTimeout");
        if (stop != null) {
            narrow.put(KEY_STOP_TIMEOUT, Long.toString(whole(stop, "serviceStopTimeout", 1, MAX_SECONDS, p)));
        }
        restart(settings.get("serviceRestart"), narrow, p);
        Object log = settings.get("serviceLog");
        if (log != null) {
            narrow.put(KEY_LOG, p.requiredString(log, "serviceLog"));
        }
        Object size = settings.get("serviceLogMaxSize");
        if (size != null) {
            narrow.put(KEY_LOG_MAX_SIZE, Long.toString(size(size, p)));
        }
        Object keep = settings.get("serviceLogKeep");
        if (keep != null) {
            narrow.put(KEY_LOG_KEEP, Long.toString(whole(keep, "serviceLogKeep", 0, 1000, p)));
        }
        Object account = settings.get("serviceAccount");
        if (account != null) {
            String name = p.requiredString(account, "serviceAccount");
            if (name.trim().isEmpty()) {
                throw p.fail("\"serviceAccount\" must name an account");
            }
            narrow.put(KEY_ACCOUNT, name);
        }
        Object interactive = settings.get("serviceInteractive");
        if (interactive != null) {
            narrow.put(KEY_INTERACTIVE, p.flag(interactive, "serviceInteractive", true) ? "1" : "0");
        }
        Object start = settings.get("serviceStart");
        if (start != null) {
            if (!Arrays.asList("demand", "auto", "delayed").contains(start)) {
                throw p.fail("\"serviceStart\" must be \"demand\", \"auto\" or \"delayed\"");
            }
            narrow.put(KEY_START, (String) start);
        }
        Object preshutdown = settings.get("servicePreshutdownTimeout");
        if (preshutdown != null) {
            narrow.put(KEY_PRESHUTDOWN_TIMEOUT,
                    Long.toString(whole(preshutdown, "servicePreshutdownTimeout", 1, MAX_SECONDS, p)));
        }
        environment(settings.get("serviceEnvironment"), narrow, p);
    }

    /** false; true (the defaults); or {"delays": [seconds...], "resetAfter": seconds, "limit": n}. */
    private static void restart(Object value, Map<Integer, String> narrow, ProductSettings p)
            throws PackerException {
        if (value == null) {
            return;
        }
        if (value instanceof Boolean) {
            narrow.put(KEY_RESTART, (Boolean) value ? "1" : "0");
            return;
        }
        if (!(value instanceof Map)) {
            throw p.fail("\"serviceRestart\" must be true, false or an object with delays, resetAfter and limit");
        }
        @SuppressWarnings("unchecked")
        Map<String, Object> o = (Map<String, Object>) value;
        p.allowOnly(o, "serviceRestart", "delays", "resetAfter", "limit");
        narrow.put(KEY_RESTART, "1");
        Object delays = o.get("delays");
        if (delays != null) {
            if (!(delays instanceof List) || ((List<?>) delays).isEmpty()) {
                throw p.fail("serviceRestart.delays must be a non-empty array of seconds");
            }
            List<String> items = new ArrayList<>();
            List<?> raw = (List<?>) delays;
            for (int i = 0; i < raw.size(); i++) {
                items.add(Long.toString(whole(raw.get(i), "serviceRestart.delays[" + i + "]", 0, MAX_SECONDS, p)));
            }
            narrow.put(KEY_RESTART_DELAYS, String.join(",", items));
        }
        if (o.get("resetAfter") != null) {
            narrow.put(KEY_RESTART_RESET_AFTER,
                    Long.toString(whole(o.get("resetAfter"), "serviceRestart.resetAfter", 1, MAX_SECONDS, p)));
        }
        if (o.get("limit") != null) {
            narrow.put(KEY_RESTART_LIMIT,
                    Long.toString(whole(o.get("limit"), "serviceRestart.limit", 0, 1000000, p)));
        }
    }

    /** Bytes as a number, or text such as "10MB", "512 KB". */
    private static long size(Object value, ProductSettings p) throws PackerException {
        if (value instanceof BigDecimal) {
            return whole(value, "serviceLogMaxSize", 1, Long.MAX_VALUE / 2, p);
        }
        Matcher m = value instanceof String ? SIZE.matcher(((String) value).trim()) : null;
        if (m == null || !m.matches()) {
            throw p.fail("\"serviceLogMaxSize\" must be a number of bytes or a size such as \"10MB\"");
        }
        String unit = m.group(2).toUpperCase(Locale.ROOT);
        long factor = unit.equals("KB") ? 1L << 10 : unit.equals("MB") ? 1L << 20 : unit.equals("GB") ? 1L << 30 : 1;
        try {
            long bytes = Math.multiplyExact(Long.parseLong(m.group(1)), factor);
            if (bytes >= 1) {
                return bytes;
            }
        } catch (ArithmeticException | NumberFormatException e) {
            // falls through to the refusal
        }
        throw p.fail("\"serviceLogMaxSize\" must be at least 1 byte and at most a few exabytes");
    }

    /** Lines NAME=VALUE; the launcher expands the values when the service starts. */
    private static void environment(Object value, Map<Integer, String> narrow, ProductSettings p)
            throws PackerException {
        if (value == null) {
            return;
        }
        if (!(value instanceof Map)) {
            throw p.fail("\"serviceEnvironment\" must be an object of names and values");
        }
        List<String> lines = new ArrayList<>();
        for (Map.Entry<?, ?> e : ((Map<?, ?>) value).entrySet()) {
            String name = (String) e.getKey();
            String where = "serviceEnvironment." + name;
            if (name.isEmpty() || name.contains("=") || name.contains("\n") || name.contains("\0")) {
                throw p.fail(where + ": a variable name must not be empty or hold \"=\", a line break or NUL");
            }
            if (!(e.getValue() instanceof String)) {
                throw p.fail(where + " must be a string");
            }
            String text = (String) e.getValue();
            if (text.contains("\n") || text.contains("\0")) {
                throw p.fail(where + " must not hold a line break or NUL");
            }
            lines.add(name + "=" + text);
        }
        if (!lines.isEmpty()) {
            narrow.put(KEY_ENVIRONMENT, String.join("\n", lines));
        }
    }

    private static long whole(Object value, String name, long min, long max, ProductSettings p)
            throws PackerException {
        try {
            if (value instanceof BigDecimal) {
                long v = ((BigDecimal) value).longValueExact();
                if (v >= min && v <= max) {
                    return v;
                }
            }
        } catch (ArithmeticException e) {
            // falls through to the refusal
        }
        throw p.fail("\"" + name + "\" must be a whole number from " + min + " to " + max);
    }
}
