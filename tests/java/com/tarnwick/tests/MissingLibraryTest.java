package com.tarnwick.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.tarnwick.api.NativeAPI;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * setJniEnv with directories that lack the service library, then with one that has it. The first
 * successful load is once per JVM, so the whole story is one test in a class of its own.
 */
class MissingLibraryTest {
  @Test
  void failedLoadsAreLoggedAndALaterGoodDirectoryStillLoads(@TempDir Path temp) throws Exception {
    LogCollector log = new LogCollector();
    NativeAPI api = new NativeAPI();
    api.setLogListener(log);
    String dirA = Files.createDirectory(temp.resolve("a")).toString();
    String dirB = Files.createDirectory(temp.resolve("b")).toString();

    api.setJniEnv(dirA);
    api.setJniEnv(dirB);

    // Between the two "dir is" lines: exactly the load failure, then the missing
    // setserverlistdir; setcallback is not attempted. The log thread delivers all of it.
    int atA = log.await(LogLines.dirIs(dirA), 0);
    int atB = log.await(LogLines.dirIs(dirB), atA + 1);
    List<String> afterA = log.lines().subList(atA + 1, atB);
    assertEquals(2, afterA.size(), "lines after dir A: " + afterA);
    assertTrue(LogLines.LOAD_LIBRARY_FAIL.matcher(afterA.get(0)).matches(), afterA.get(0));
    assertTrue(LogLines.missingEntry("pfnsetserverlistdir").matcher(afterA.get(1)).matches(),
        afterA.get(1));
    // The second failing call tries the load again.
    int failB = log.await(LogLines.LOAD_LIBRARY_FAIL, atB + 1);
    int missingB = log.await(LogLines.missingEntry("pfnsetserverlistdir"), failB + 1);
    assertEquals(failB + 1, missingB);

    // With no library every export finds its entry null.
    int mark = log.size();
    assertEquals(NativeAPI.CODE_MISSING_FUNCTION, api.start(""));
    log.await(LogLines.missingEntry("pfnstart"), mark);

    // A good directory now loads the library: no failure, setserverlistdir found.
    String good = SimDirs.defaultDir();
    api.setJniEnv(good);
    api.setJniEnv(good);
    int first = log.await(LogLines.dirIs(good), mark);
    int second = log.await(LogLines.dirIs(good), first + 1);
    List<String> between = log.lines().subList(first + 1, second);
    for (String line : between) {
      assertFalse(LogLines.LOAD_LIBRARY_FAIL.matcher(line).matches(), "after load: " + between);
      assertFalse(line.contains("is null."), "after load: " + between);
    }
  }
}
