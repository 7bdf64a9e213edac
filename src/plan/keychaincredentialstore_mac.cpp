// Claude Code's token set in the macOS keychain: the generic-password item of the service
// "Claude Code-credentials", read and updated in place, never created or deleted.
#include "credentialstore.h"

#include <CoreFoundation/CoreFoundation.h>
#include <Security/Security.h>

namespace {

constexpr char keychainSvc[] = "Claude Code-credentials";

// Releases a Core Foundation object on every way out.
template<typename T>
class CFOwner
{
public:
    explicit CFOwner(T ref) : m_ref(ref) { }
    ~CFOwner()
    {
        if (m_ref)
            CFRelease(m_ref);
    }
    CFOwner(const CFOwner &) = delete;
    CFOwner &operator=(const CFOwner &) = delete;
    T get() const { return m_ref; }

private:
    T m_ref;
};

CFOwner<CFStringRef> serviceName()
{
    return CFOwner<CFStringRef>(CFStringCreateWithCString(kCFAllocatorDefault, keychainSvc, kCFStringEncodingUTF8));
}

class KeychainCredentialStore final : public CredentialStore
{
public:
    std::optional<QByteArray> read() const override
    {
        const CFOwner<CFStringRef> service = serviceName();
        const void *keys[] = {kSecClass, kSecAttrService, kSecReturnData, kSecMatchLimit};
        const void *values[] = {kSecClassGenericPassword, service.get(), kCFBooleanTrue, kSecMatchLimitOne};
        const CFOwner<CFDictionaryRef> query(CFDictionaryCreate(kCFAllocatorDefault, keys, values, 4,
                                                                &kCFTypeDictionaryKeyCallBacks,
                                                                &kCFTypeDictionaryValueCallBacks));
        CFTypeRef result = nullptr;
        const OSStatus status = SecItemCopyMatching(query.get(), &result);
        const CFOwner<CFTypeRef> owned(result);
        if (status != errSecSuccess || !result || CFGetTypeID(result) != CFDataGetTypeID())
            return std::nullopt;
        const auto data = static_cast<CFDataRef>(result);
        return QByteArray(reinterpret_cast<const char *>(CFDataGetBytePtr(data)), CFDataGetLength(data));
    }

    // SecItemUpdate only changes an item that matches; it never adds one.
    QString location() const override { return QStringLiteral("the macOS keychain (\"Claude Code-credentials\")"); }

    void replace(const QByteArray &bytes) override
    {
        const CFOwner<CFStringRef> service = serviceName();
        const void *queryKeys[] = {kSecClass, kSecAttrService};
        const void *queryValues[] = {kSecClassGenericPassword, service.get()};
        const CFOwner<CFDictionaryRef> query(CFDictionaryCreate(kCFAllocatorDefault, queryKeys, queryValues, 2,
                                                                &kCFTypeDictionaryKeyCallBacks,
                                                                &kCFTypeDictionaryValueCallBacks));
        const CFOwner<CFDataRef> data(CFDataCreate(kCFAllocatorDefault,
                                                   reinterpret_cast<const UInt8 *>(bytes.constData()),
                                                   bytes.size()));
        const void *updateKeys[] = {kSecValueData};
        const void *updateValues[] = {data.get()};
        const CFOwner<CFDictionaryRef> update(CFDictionaryCreate(kCFAllocatorDefault, updateKeys, updateValues, 1,
                                                                 &kCFTypeDictionaryKeyCallBacks,
                                                                 &kCFTypeDictionaryValueCallBacks));
        SecItemUpdate(query.get(), update.get()); // the outcome is not examined
    }
};

} // namespace

std::shared_ptr<CredentialStore> systemCredentialStore(const QString &)
{
    return std::make_shared<KeychainCredentialStore>();
}
