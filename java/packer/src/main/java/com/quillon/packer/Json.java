package com.quillon.packer;

import java.math.BigDecimal;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * A strict JSON reader and a small writer, so the packer runs without any
 * library beside the JRE.
 *
 * <p>Values map to Java as: object → {@code LinkedHashMap<String, Object>} (member order
 * kept), array → {@code List<Object>}, string → {@code String}, number → {@code BigDecimal},
 * {@code true}/{@code false} → {@code Boolean}, {@code null} → {@code null}.
 *
 * <p>Strict means: no comments, no trailing commas, no single quotes, no duplicate member
 * names, nothing after the value. A leading UTF-8 byte order mark is skipped because Windows
 * editors like to write one.
 */
public final class Json {

    private static final int MAX_DEPTH = 256;

    /** A syntax error at a 1-based line and column. */
    public static final class ParseException extends Exception {
        private static final long serialVersionUID = 1L;
        private final int line;
        private final int column;
        private final String reason;

        ParseException(int line, int column, String reason) {
            super(line + ":" + column + ": " + reason);
            this.line = line;
            this.column = column;
            this.reason = reason;
        }

        public int line() {
            return line;
        }

        public int column() {
            return column;
        }

        public String reason() {
            return reason;
        }
    }

    private final String text;
    private int pos;
    private int depth;

    private Json(String text) {
        this.text = text;
        this.pos = text.startsWith("\uFEFF") ? 1 : 0;
    }

    /** Parses one JSON document. */
    public static Object parse(String text) throws ParseException {
        Json parser = new Json(text);
        parser.skipWhitespace();
        Object value = parser.readValue();
        parser.skipWhitespace();
        if (parser.pos < text.length()) {
            throw parser.error("unexpected " + parser.describeCurrent() + " after the end of the document");
        }
        return value;
    }

    private Object readValue() throws ParseException {
        if (pos >= text.length()) {
            throw error("unexpected end of input, expected a value");
        }
        char c = text.charAt(pos);
        switch (c) {
            case '{':
                return readObject();
            case '[':
                return readArray();
            case '"':
                return readString();
            case 't':
                return readLiteral("true", Boolean.TRUE);
            case 'f':
                return readLiteral("false", Boolean.FALSE);
            case 'n':
                return readLiteral("null", null);
            default:
                if (c == '-' || (c >= '0' && c <= '9')) {
                    return readNumber();
                }
                throw error("unexpected " + describeCurrent() + ", expected a value");
        }
    }

    private Map<String, Object> readObject() throws ParseException {
        enter();
        Map<String, Object> members = new LinkedHashMap<>();
        pos++; // '{'
        skipWhitespace();
        if (peek() == '}') {
            pos++;
            depth--;
            return members;
        }
        while (true) {
            skipWhitespace();
            if (peek() != '"') {
                throw error("unexpected " + describeCurrent() + ", expected a member name in double quotes");
            }
            int nameStart = pos;
            String name = readString();
            if (members.containsKey(name)) {
                throw errorAt(nameStart, "duplicate member name \"" + name + "\"");
            }
            skipWhitespace();
            expect(':');
            skipWhitespace();
            members.put(name, readValue());
            skipWhitespace();
            char c = peek();
            if (c == ',') {
                pos++;
            } else if (c == '}') {
                pos++;
                depth--;
                return members;
            } else {
                throw error("unexpected " + describeCurrent() + ", expected ',' or '}'");
            }
        }
    }

    private List<Object> readArray() throws ParseException {
        enter();
        List<Object> items = new ArrayList<>();
        pos++; // '['
        skipWhitespace();
        if (peek() == ']') {
            pos++;
            depth--;
            return items;
        }
        while (true) {
            skipWhitespace();
            items.add(readValue());
            skipWhitespace();
            char c = peek();
            if (c == ',') {
                pos++;
            } else if (c == ']') {
                pos++;
                depth--;
                return items;
            } else {
                throw error("unexpected " + describeCurrent() + ", expected ',' or ']'");
            }
        }
    }

    private String readString() throws ParseException {
        int start = pos;
        pos++; // opening quote
        StringBuilder sb = new StringBuilder();
        while (true) {
            if (pos >= text.length()) {
                throw errorAt(start, "unterminated string");
            }
            char c = text.charAt(pos);
            if (c == '"') {
                pos++;
                return sb.toString();
            }
            if (c < 0x20) {
                throw error("control character U+" + hex4(c) + " in a string must be escaped");
            }
            if (c != '\\') {
                sb.append(c);
                pos++;
                continue;
            }
            if (pos + 1 >= text.length()) {
                throw errorAt(start, "unterminated string");
            }
            char e = text.charAt(pos + 1);
            switch (e) {
                case '"': sb.append('"'); break;
                case '\\': sb.append('\\'); break;
                case '/': sb.append('/'); break;
                case 'b': sb.append('\b'); break;
                case 'f': sb.append('\f'); break;
                case 'n': sb.append('\n'); break;
                case 'r': sb.append('\r'); break;
                case 't': sb.append('\t'); break;
                case 'u': {
                    if (pos + 6 > text.length()) {
                        throw error("incomplete \\u escape");
                    }
                    int value = 0;
                    for (int i = pos + 2; i < pos + 6; i++) {
                        int digit = Character.digit(text.charAt(i), 16);
                        if (digit < 0) {
                            throw error("invalid \\u escape, expected four hexadecimal digits");
                        }
                        value = value * 16 + digit;
                    }
                    sb.append((char) value);
                    pos += 4;
                    break;
                }
                default:
                    throw error("invalid escape \\" + e);
            }
            pos += 2;
        }
    }

    private BigDecimal readNumber() throws ParseException {
        int start = pos;
        if (peek() == '-') {
            pos++;
        }
        if (peek() == '0') {
            pos++;
        } else if (isDigit(peek())) {
            while (isDigit(peek())) {
                pos++;
            }
        } else {
            throw error("invalid number, expected a digit");
        }
        if (peek() == '.') {
            pos++;
            if (!isDigit(peek())) {
                throw error("invalid number, expected a digit after '.'");
            }
            while (isDigit(peek())) {
                pos++;
            }
        }
        if (peek() == 'e' || peek() == 'E') {
            pos++;
            if (peek() == '+' || peek() == '-') {
                pos++;
            }
            if (!isDigit(peek())) {
                throw error("invalid number, expected a digit in the exponent");
            }
            while (isDigit(peek())) {
                pos++;
            }
        }
        try {
            return new BigDecimal(text.substring(start, pos));
        } catch (NumberFormatException e) {
            throw errorAt(start, "number out of range");
        }
    }

    private Object readLiteral(String word, Object value) throws ParseException {
        if (!text.startsWith(word, pos)) {
            throw error("unexpected " + describeCurrent() + ", expected a value");
        }
        pos += word.length();
        return value;
    }

    private void enter() throws ParseException {
        if (++depth > MAX_DEPTH) {
            throw error("nesting deeper than " + MAX_DEPTH + " levels");
        }
    }

    private void expect(char c) throws ParseException {
        if (peek() != c) {
            throw error("unexpected " + describeCurrent() + ", expected '" + c + "'");
        }
        pos++;
    }

    private char peek() {
        return pos < text.length() ? text.charAt(pos) : '\0';
    }

    private static boolean isDigit(char c) {
        return c >= '0' && c <= '9';
    }

    private void skipWhitespace() {
        while (pos < text.length()) {
            char c = text.charAt(pos);
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
                return;
            }
            pos++;
        }
    }

    private String describeCurrent() {
        if (pos >= text.length()) {
            return "end of input";
        }
        char c = text.charAt(pos);
        if (c < 0x20 || c == 0x7F) {
            return "character U+" + hex4(c);
        }
        return "character '" + c + "'";
    }

    private ParseException error(String reason) {
        return errorAt(pos, reason);
    }

    private ParseException errorAt(int offset, String reason) {
        int line = 1;
        int column = 1;
        for (int i = 0; i < offset && i < text.length(); i++) {
            char c = text.charAt(i);
            if (c == '\n') {
                line++;
                column = 1;
            } else if (c == '\r') {
                // CR LF counts as one line break, a lone CR as one too
                if (i + 1 < text.length() && text.charAt(i + 1) == '\n') {
                    continue;
                }
                line++;
                column = 1;
            } else if (c != '\uFEFF' || i != 0) {
                column++;
            }
        }
        return new ParseException(line, column, reason);
    }

    private static String hex4(int c) {
        return String.format("%04X", c);
    }

    // ---------------------------------------------------------------- writing

    /**
     * Writes a value as indented JSON. Everything outside printable ASCII is escaped, so the
     * output reads the same whatever encoding the console uses.
     */
    public static String write(Object value) {
        StringBuilder sb = new StringBuilder();
        write(sb, value, 0);
        return sb.toString();
    }

    private static void write(StringBuilder sb, Object value, int indent) {
        if (value == null) {
            sb.append("null");
        } else if (value instanceof String) {
            quote(sb, (String) value);
        } else if (value instanceof Boolean || value instanceof Integer || value instanceof Long
                || value instanceof BigDecimal) {
            sb.append(value);
        } else if (value instanceof Map) {
            Map<?, ?> map = (Map<?, ?>) value;
            if (map.isEmpty()) {
                sb.append("{}");
                return;
            }
            sb.append('{');
            boolean first = true;
            for (Map.Entry<?, ?> e : map.entrySet()) {
                sb.append(first ? "\n" : ",\n");
                first = false;
                indent(sb, indent + 1);
                quote(sb, String.valueOf(e.getKey()));
                sb.append(": ");
                write(sb, e.getValue(), indent + 1);
            }
            sb.append('\n');
            indent(sb, indent);
            sb.append('}');
        } else if (value instanceof List) {
            List<?> list = (List<?>) value;
            if (list.isEmpty()) {
                sb.append("[]");
                return;
            }
            sb.append('[');
            boolean first = true;
            for (Object item : list) {
                sb.append(first ? "\n" : ",\n");
                first = false;
                indent(sb, indent + 1);
                write(sb, item, indent + 1);
            }
            sb.append('\n');
            indent(sb, indent);
            sb.append(']');
        } else {
            throw new IllegalArgumentException("cannot write " + value.getClass().getName() + " as JSON");
        }
    }

    private static void indent(StringBuilder sb, int level) {
        for (int i = 0; i < level; i++) {
            sb.append("  ");
        }
    }

    /** Appends {@code s} as a JSON string literal. */
    public static void quote(StringBuilder sb, String s) {
        sb.append('"');
        for (int i = 0; i < s.length(); i++) {
            char c = s.charAt(i);
            switch (c) {
                case '"': sb.append("\\\""); break;
                case '\\': sb.append("\\\\"); break;
                case '\n': sb.append("\\n"); break;
                case '\r': sb.append("\\r"); break;
                case '\t': sb.append("\\t"); break;
                case '\b': sb.append("\\b"); break;
                case '\f': sb.append("\\f"); break;
                default:
                    if (c < 0x20 || c > 0x7E) {
                        sb.append("\\u").append(hex4(c));
                    } else {
                        sb.append(c);
                    }
            }
        }
        sb.append('"');
    }
}
