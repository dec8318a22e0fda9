#pragma once
// OpenSSL 3, mapped into the process only when a path that needs it runs (the probe that explains a
// failed encrypted connection, the check of an update's signature), so that a start of the program
// never pays for it. The system's libcrypto.so.3 and libssl.so.3 are opened at the first call and
// stay open for the life of the process; their functions are taken through OpenSSL's stable C
// interface, typed by OpenSSL's own headers at the place of use:
//
//     #include <openssl/evp.h>
//     const auto newContext = OPENSSL_FUNCTION(OpenSsl::Crypto, EVP_MD_CTX_new);
//
// Safe to call from any thread.

#include <QString>

class OpenSsl {
public:
    enum Library {
        Crypto, // libcrypto.so.3
        Ssl,    // libssl.so.3, which brings libcrypto with it
    };

    // The address of the function of that name in the library, opening the library at the first
    // call. Throws Error with a text the user can act on when the library cannot be opened or lacks
    // the function.
    static void *function(Library library, const char *name);

    // Empty when the library can be opened; else why not, in the words function() throws.
    static QString unavailable(Library library);

    template <typename Function> static Function *resolve(Library library, const char *name)
    {
        return reinterpret_cast<Function *>(function(library, name));
    }
};

// A pointer to the OpenSSL function name, with the type its header declares.
#define OPENSSL_FUNCTION(library, name) OpenSsl::resolve<decltype(name)>(library, #name)
