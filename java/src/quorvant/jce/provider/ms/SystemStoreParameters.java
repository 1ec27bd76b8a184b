package quorvant.jce.provider.ms;

import java.security.cert.CertStoreParameters;
import java.util.Objects;

/** Names the current user's system store ("MY", "CA", "Root", "AddressBook", ...) to export. */
public final class SystemStoreParameters implements CertStoreParameters {
  private final String storeName;

  public SystemStoreParameters(String storeName) {
    this.storeName = Objects.requireNonNull(storeName, "storeName");
  }

  public String getStoreName() {
    return storeName;
  }

  @Override
  public SystemStoreParameters clone() {
    return this;
  }

  @Override
  public String toString() {
    return "system store \"" + storeName + "\"";
  }
}
