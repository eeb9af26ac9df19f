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

/** The demo service: writes a line every second beside its launcher until it is stopped. */
public final class HelloService {

    private HelloService() {
    }

    public static void main(String[] args) throws Exception {
        String launcher = LauncherProperties.getModuleName();
        File log = new File(launcher == null ? "." : new File(launcher).getParent(),
                "hello-service.log");
        line(log, "started as a service: " + ServiceControl.isService());
        ServiceControl.addStopListener(() -> line(log, "stop requested, shutting down"));
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
