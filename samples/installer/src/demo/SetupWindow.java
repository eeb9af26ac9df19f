package demo;

import java.awt.BorderLayout;
import java.awt.Font;
import javax.swing.BorderFactory;
import javax.swing.JFrame;
import javax.swing.JLabel;
import javax.swing.JProgressBar;
import javax.swing.SwingUtilities;
import javax.swing.Timer;

/**
 * A stand-in for a real Java installer: one window with a progress bar that fills in a few
 * seconds, then the process ends with exit code 0. The launcher's progress dialog goes away
 * as soon as this window is up.
 */
public final class SetupWindow {

    private SetupWindow() {
    }

    public static void main(String[] args) {
        System.out.println("demo installer running on Java " + System.getProperty("java.version")
                + " from " + System.getProperty("java.home"));
        SwingUtilities.invokeLater(() -> {
            JFrame frame = new JFrame("Demo Installer");
            JLabel label = new JLabel("Installing the demo application...");
            label.setFont(label.getFont().deriveFont(Font.BOLD, 14f));
            JProgressBar bar = new JProgressBar(0, 20);
            frame.getContentPane().add(label, BorderLayout.NORTH);
            frame.getContentPane().add(bar, BorderLayout.SOUTH);
            ((javax.swing.JComponent) frame.getContentPane())
                    .setBorder(BorderFactory.createEmptyBorder(16, 16, 16, 16));
            frame.setSize(420, 140);
            frame.setLocationRelativeTo(null);
            frame.setDefaultCloseOperation(JFrame.EXIT_ON_CLOSE);
            frame.setVisible(true);
            Timer timer = new Timer(200, null);
            timer.addActionListener(e -> {
                bar.setValue(bar.getValue() + 1);
                if (bar.getValue() >= bar.getMaximum()) {
                    timer.stop();
                    System.out.println("demo installer finished");
                    System.exit(0);
                }
            });
            timer.start();
        });
    }
}
