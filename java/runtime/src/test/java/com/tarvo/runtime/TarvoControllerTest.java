package com.tarvo.runtime;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;

import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/** The answers the launcher's splash thread gets when it polls, as the application acts. */
class TarvoControllerTest {

    @BeforeEach
    void setUp() {
        TarvoController.reset();
    }

    @Test
    void nothingToDoUntilTheApplicationActs() {
        assertEquals(TarvoController.NO_ACTION, TarvoController.getAction());
        assertNull(TarvoController.getText());
    }

    @Test
    void eachStatusTextIsHandedOverOnceAndTheNewestWins() {
        TarvoController.setSplashStatusText("Loading plug-ins");
        assertEquals(TarvoController.ACTION_NEW_TEXT, TarvoController.getAction());
        assertEquals("Loading plug-ins", TarvoController.getText());
        assertEquals(TarvoController.NO_ACTION, TarvoController.getAction());

        TarvoController.setSplashStatusText("one");
        TarvoController.setSplashStatusText("two");
        assertEquals(TarvoController.ACTION_NEW_TEXT, TarvoController.getAction());
        assertEquals("two", TarvoController.getText());
        assertNull(TarvoController.getText());

        TarvoController.setSplashStatusText(null);
        assertEquals(TarvoController.ACTION_NEW_TEXT, TarvoController.getAction());
        assertEquals("", TarvoController.getText(), "null clears the line");
    }

    @Test
    void aHideRequestWinsAndStays() {
        TarvoController.setSplashStatusText("pending");
        TarvoController.hideSplashScreen();
        assertEquals(TarvoController.ACTION_HIDE, TarvoController.getAction());
        TarvoController.setSplashStatusText("later");
        assertEquals(TarvoController.ACTION_HIDE, TarvoController.getAction());
    }
}
