package hello;

import com.quillon.runtime.launcher.LauncherProperties;
import com.quillon.runtime.launcher.ServiceControl;
import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStreamWriter;
import java.io.PrintWriter;
import java.nio.charset.StandardCharsets;
import java.util.Date;

/**
 * The demo service: writes a line every second beside its launcher. Its first run crashes after
 * two seconds, so the launcher restarts it; its stop listener never returns, so a stop ends it
 * after the launcher's stop time-out.
 */
public final class HelloService {

    private HelloService() {
    }

    public static void main(String[] args) throws Exception {
        String launcher = LauncherProperties.getModuleName();
        File log = new File(launcher == null ? "." : new File(launcher).getParent(),
                "hello-service.log");
        line(log, "started as a service: " + ServiceControl.isService());
        File crashedOnce = new File(log.getParentFile(), "crashed-once");
        if (crashedOnce.createNewFile()) {
            line(log, "simulating a crash in 2 s");
            Thread.sleep(2000);
            System.exit(3);
        }
        ServiceControl.addStopListener(() -> {
            line(log, "stop requested, and this demo ignores it");
            while (true) {
                try {
                    Thread.sleep(1000);
                } catch (InterruptedException e) {
                    return;
                }
            }
        });
        for (int beat = 1; ; beat++) {
            line(log, "still running, beat " + beat);
            Thread.sleep(1000);
        }
    }

    private static synchronized void line(File file, String text) {
        try (PrintWriter out = new PrintWriter(new OutputStreamWriter(
                new FileOutputStream(file, true), StandardCharsets.UTF_8))) {
            out.println(new Date() + "  " + text);
        } catch (IOException e) {
            e.printStackTrace();
        }
    }
}
