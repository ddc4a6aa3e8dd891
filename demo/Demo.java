import com.tarnwick.api.NativeAPI;
import java.nio.charset.StandardCharsets;

/**
 * A first look at the bridge: loads it, hands it the service library's directory and prints the
 * log lines it delivers for a while.
 *
 * <p>Usage: {@code java -Djava.library.path=<bridge dir> -cp veltrix-demo.jar:veltrix-api.jar
 * Demo <service library dir> [milliseconds]}
 */
public final class Demo {
  private Demo() {}

  public static void main(String[] args) throws InterruptedException {
    if (args.length < 1) {
      System.err.println("usage: Demo <service library dir> [milliseconds]");
      System.exit(2);
    }
    String dir = args[0];
    long millis = args.length > 1 ? Long.parseLong(args[1]) : 2000;

    NativeAPI api = new NativeAPI();
    api.setLogListener(line -> {
      System.out.print("log: " + new String(line, StandardCharsets.UTF_8));
      System.out.flush();
    });
    api.setJniEnv(dir);
    Thread.sleep(millis);
    System.out.println("demo done");
    System.exit(0);
  }
}
