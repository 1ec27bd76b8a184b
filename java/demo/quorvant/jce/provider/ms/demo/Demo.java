package quorvant.jce.provider.ms.demo;

import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import quorvant.jce.provider.ms.Brisvander;
import quorvant.jce.provider.ms.MSCertStoreJNI;
import quorvant.jce.provider.ms.MSCipherRSAJNI;
import quorvant.jce.provider.ms.MSSignatureJNI;

/** A short tour of what the provider does so far, on the default emulated store. */
public final class Demo {
  private Demo() {}

  public static void main(String[] args) {
    System.out.println("Brisvander demo");
    System.out.println("  library: " + System.getProperty("brisvander.library", "(java.library.path)"));
    int natives = 0;
    for (Class<?> type :
        new Class<?>[] {
          Brisvander.class, MSCertStoreJNI.class, MSSignatureJNI.class, MSCipherRSAJNI.class
        }) {
      for (Method method : type.getDeclaredMethods()) {
        if (Modifier.isNative(method.getModifiers())) {
          natives++;
        }
      }
    }
    System.out.println("  native methods declared: " + natives);

    System.out.println("The native side prints a line of its own (after Java's buffered output):");
    System.out.flush();
    Brisvander.printString("  Grüße from the native side: printString keeps every character.");

    System.out.println("Key store: size " + Brisvander.size() + ", aliases " + describe(Brisvander.aliases()));
    System.out.println("getKey answers " + Brisvander.getKey("any alias", null) + ", by design:"
        + " keys of entries are used by alias, never handed out.");
  }

  private static String describe(String[] aliases) {
    return aliases == null ? "none" : String.join(" | ", aliases);
  }
}
