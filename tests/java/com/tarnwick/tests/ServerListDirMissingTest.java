package com.tarnwick.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.tarnwick.api.NativeAPI;
import java.util.List;
import org.junit.jupiter.api.Test;

/**
 * A service library that loads but lacks setserverlistdir: setJniEnv logs the missing entry and
 * skips registering the main callback. Its own JVM, as the library loads once.
 */
class ServerListDirMissingTest {
  @Test
  void missingSetServerListDirIsLoggedAndSetCallbackIsNotAttempted() {
    LogCollector log = new LogCollector();
    NativeAPI api = new NativeAPI();
    api.setLogListener(log);
    String dir = SimDirs.variant("no_serverlistdir");

    api.setJniEnv(dir);
    api.setJniEnv(dir);

    int first = log.await(LogLines.dirIs(dir), 0);
    int second = log.await(LogLines.dirIs(dir), first + 1);
    List<String> between = log.lines().subList(first + 1, second);
    assertEquals(1, between.size(), "lines after the first call: " + between);
    assertTrue(LogLines.missingEntry("pfnsetserverlistdir").matcher(between.get(0)).matches(),
        between.get(0));
    log.await(LogLines.missingEntry("pfnsetserverlistdir"), second + 1);
  }
}
