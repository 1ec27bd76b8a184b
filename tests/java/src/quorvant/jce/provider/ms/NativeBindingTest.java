package quorvant.jce.provider.ms;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.Map;
import java.util.TreeMap;
import java.util.TreeSet;
import java.util.concurrent.Callable;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * Every native binds to its entry point, and a null in every reference position gives the
 * method's neutral result instead of a crash of the VM.
 */
class NativeBindingTest {
  private static final Map<String, Callable<Object>> NULL_CALLS = new TreeMap<>();
  private static final Map<String, Object> NEUTRAL = new TreeMap<>();

  private static void call(String name, Object neutral, Callable<Object> body) {
    NULL_CALLS.put(name, body);
    NEUTRAL.put(name, neutral);
  }

  static {
    call("Brisvander.printString", null, () -> { Brisvander.printString(null); return null; });
    call("Brisvander.size", 0, Brisvander::size);
    call("Brisvander.aliases", null, Brisvander::aliases);
    call("Brisvander.containsAlias", false, () -> Brisvander.containsAlias(null));
    call("Brisvander.getCertificateAlias", null, () -> Brisvander.getCertificateAlias(null));
    call("Brisvander.getCertificate", null, () -> Brisvander.getCertificate(null));
    call("Brisvander.getCertificateChain", null, () -> Brisvander.getCertificateChain(null));
    call("Brisvander.isKeyEntry", false, () -> Brisvander.isKeyEntry(null));
    call("Brisvander.isCertificateEntry", false, () -> Brisvander.isCertificateEntry(null));
    call("Brisvander.getKey", null, () -> Brisvander.getKey(null, null));
    call("Brisvander.setKeyEntry", false, () -> Brisvander.setKeyEntry(null, null, null));
    call("Brisvander.setCertificateEntry", false, () -> Brisvander.setCertificateEntry(null));
    call("Brisvander.deleteEntry", false, () -> Brisvander.deleteEntry(null));
    call("MSCertStoreJNI.getAllCertificates", null, () -> MSCertStoreJNI.getAllCertificates(null));
    call("MSSignatureJNI.sign", null, () -> MSSignatureJNI.sign(null, null, null, null));
    call("MSSignatureJNI.verify", false, () -> MSSignatureJNI.verify(null, null, null, null));
    call("MSCipherRSAJNI.encrypt", null, () -> MSCipherRSAJNI.encrypt(null, null, true));
    call("MSCipherRSAJNI.decrypt", null, () -> MSCipherRSAJNI.decrypt(null, null, null, true));
    call("MSCipherRSAJNI.getKeyLength", 0, () -> MSCipherRSAJNI.getKeyLength(null, null, false));
    call("MSCipherRSAJNI.getBlockSize", 0, () -> MSCipherRSAJNI.getBlockSize(null, null, true));
  }

  static Stream<Arguments> nullCalls() {
    return NULL_CALLS.keySet().stream().map(Arguments::of);
  }

  @ParameterizedTest(name = "{0}")
  @MethodSource("nullCalls")
  void bindsAndAnswersNeutrallyForNulls(String name) throws Exception {
    assertEquals(NEUTRAL.get(name), NULL_CALLS.get(name).call());
  }

  @Test
  void theTableCoversEveryDeclaredNative() {
    TreeSet<String> declared = new TreeSet<>();
    for (Class<?> type :
        new Class<?>[] {
          Brisvander.class, MSCertStoreJNI.class, MSSignatureJNI.class, MSCipherRSAJNI.class
        }) {
      for (Method method : type.getDeclaredMethods()) {
        if (Modifier.isNative(method.getModifiers())) {
          declared.add(type.getSimpleName() + "." + method.getName());
        }
      }
    }
    assertEquals(20, declared.size());
    assertEquals(declared, NULL_CALLS.keySet());
  }

  @Test
  void getKeyIsAlwaysNull() {
    assertEquals(null, Brisvander.getKey("CN=Alice Example,05", "secret".toCharArray()));
  }
}
