package com.quillon.runtime.launcher;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayDeque;
import java.util.Arrays;
import java.util.Collections;
import java.util.Deque;
import java.util.List;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

class NotificationReaderTest {

    private static final Path FILE = Paths.get("tvo_p42.tmp");

    private static byte[] utf16(String text) {
        return text.getBytes(StandardCharsets.UTF_16LE);
    }

    /**
     * A notification file that a second instance may still hold: each read takes the next
     * scripted answer (bytes, or an exception), deletes can be refused.
     */
    private static final class ScriptedFile implements NotificationReader.FileAccess {
        final Deque<Object> reads = new ArrayDeque<>();
        int deleteFailures;
        int deletes;

        ScriptedFile then(Object answer) {
            reads.add(answer);
            return this;
        }

        @Override
        public byte[] read(Path file) throws IOException {
            Object answer = reads.isEmpty() ? new NoSuchFileException(file.toString()) : reads.poll();
            if (answer instanceof IOException) {
                throw (IOException) answer;
            }
            return (byte[]) answer;
        }

        @Override
        public void delete(Path file) throws IOException {
            if (deleteFailures > 0) {
                deleteFailures--;
                throw new FileSystemException(file.toString(), null, "in use");
            }
            deletes++;
        }
    }

    private static FileSystemException sharingViolation() {
        return new FileSystemException(FILE.toString(), null,
                "The process cannot access the file because it is being used by another process");
    }

    @Test
    void noFileMeansNothingToDeliver() {
        ScriptedFile file = new ScriptedFile();
        assertEquals(Collections.emptyList(), new NotificationReader(FILE, file).poll());
        assertEquals(0, file.deletes);
    }

    @Test
    void retriesWhileTheWriterHoldsTheFile() {
        ScriptedFile file = new ScriptedFile().then(sharingViolation()).then(sharingViolation())
                .then(utf16("open \"my file.txt\"\n"));
        NotificationReader reader = new NotificationReader(FILE, file);
        assertEquals(Collections.emptyList(), reader.poll());
        assertEquals(Collections.emptyList(), reader.poll());
        assertEquals(0, file.deletes);
        assertEquals(Collections.singletonList(Arrays.asList("open", "my file.txt")), reader.poll());
        assertEquals(1, file.deletes);
    }

    @Test
    void anIncompleteLineStaysForTheNextPoll() {
        ScriptedFile file = new ScriptedFile().then(utf16("half of it")).then(utf16("half of it\n"));
        NotificationReader reader = new NotificationReader(FILE, file);
        assertEquals(Collections.emptyList(), reader.poll());
        assertEquals(0, file.deletes, "the file is only taken with a whole line in it");
        assertEquals(Collections.singletonList(Arrays.asList("half", "of", "it")), reader.poll());
    }

    @Test
    void aFileThatCannotBeDeletedIsNotDeliveredTwice() {
        ScriptedFile file = new ScriptedFile().then(utf16("a\n")).then(utf16("a\n"));
        file.deleteFailures = 1;
        NotificationReader reader = new NotificationReader(FILE, file);
        assertEquals(Collections.emptyList(), reader.poll());
        assertEquals(Collections.singletonList(Collections.singletonList("a")), reader.poll());
        assertEquals(Collections.emptyList(), reader.poll());
    }

    @ParameterizedTest(name = "[{0}]")
    @CsvSource(delimiter = '|', quoteCharacter = '`', value = {
        "``                          | ``",
        "`one two`                   | one,two",
        "`\"C:\\My Files\\a.txt\" -x` | C:\\My Files\\a.txt,-x",
        "`'it is' ok`                | it is,ok",
        "`Grüße € 日本`               | Grüße,€,日本",
        "`trailing CR\r`             | trailing,CR",
    })
    void aLineBecomesTheArgumentsOfOneStart(String line, String arguments) {
        ScriptedFile file = new ScriptedFile().then(utf16(line + "\n"));
        List<String> expected = arguments.isEmpty() ? Collections.<String>emptyList()
                : Arrays.asList(arguments.split(","));
        assertEquals(Collections.singletonList(expected), new NotificationReader(FILE, file).poll());
    }

    @Test
    void everyWholeLineIsOneStartAndAnOddByteIsIgnored() {
        byte[] two = utf16("first\nsecond x\n");
        byte[] withOddByte = Arrays.copyOf(two, two.length + 1);
        ScriptedFile file = new ScriptedFile().then(withOddByte);
        assertEquals(Arrays.asList(Collections.singletonList("first"), Arrays.asList("second", "x")),
                new NotificationReader(FILE, file).poll());
    }

    @Test
    void readsAndDeletesARealFile(@TempDir Path dir) throws IOException {
        Path path = dir.resolve("tvo_p7.tmp");
        Files.write(path, utf16("--open=ä.txt\n"));
        NotificationReader reader = new NotificationReader(path, NotificationReader.FILES);
        assertEquals(Collections.singletonList(Collections.singletonList("--open=ä.txt")), reader.poll());
        assertFalse(Files.exists(path));
        assertTrue(reader.poll().isEmpty());
    }
}
