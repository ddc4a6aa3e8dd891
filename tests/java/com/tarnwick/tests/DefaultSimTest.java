package com.tarnwick.tests;

import com.tarnwick.api.NativeAPI;
import com.tarnwick.sim.SimControl;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;

/**
 * Tests against the default simulated service: the bridge is opened once for the class with a
 * log collector, the service is reset before each test, and no test may leave a contract
 * breach that the service noticed.
 */
abstract class DefaultSimTest {
  protected static final LogCollector log = new LogCollector();
  protected static NativeAPI api;

  @BeforeAll
  static void openTheBridge() {
    api = SimBridge.open(SimDirs.defaultDir(), log, null);
  }

  @BeforeEach
  void resetTheSim() {
    SimControl.reset();
  }

  @AfterEach
  void noContractBreaches() {
    SimBridge.assertNoSimErrors();
  }
}
