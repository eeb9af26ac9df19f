package hello;

import com.quillon.runtime.launcher.LaunchParameters;
import com.quillon.runtime.launcher.LauncherProperties;
import com.quillon.runtime.launcher.WinLauncher;

/** The demo application: says where it runs and what the launcher handed it. */
public final class Hello {

    private Hello() {
    }

    public static void main(String[] args) {
        System.out.println(System.getProperty("hello.greeting", "Hello"));
        System.out.println("Java " + System.getProperty("java.version") + " ("
                + System.getProperty("java.vendor") + ") in " + System.getProperty("java.home"));
        LaunchParameters parameters = WinLauncher.getParameters();
        if (parameters != null) {
            System.out.println("Started by " + LauncherProperties.getModuleName());
            System.out.println("Included files in " + LauncherProperties.getTempDir());
        }
        System.out.println("Arguments (" + args.length + "):");
        for (String arg : args) {
            System.out.println("  [" + arg + "]");
        }
    }
}
