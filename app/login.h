// The login of a client that administers the server from another address:
// HTTP Basic credentials (the browser asks for them; `ipptool -U`, CUPS
// clients send them), checked against the access password set on the
// Security page, or, when the server has an auth-service, by PAM for an
// account of the admin group.
#pragma once

#include <pappl/pappl.h>

#include "app/access.h"

enum class Login {
  Missing,     // no credentials, or wrong ones: ask again (401)
  Forbidden,   // right credentials, not an administrator (403)
  Accepted,
};

// Checks the Authorization field of `client`'s request.
Login checkLogin(pappl_client_t* client, const AccessSettings& settings);

// Whether `password` is the one of `storedHash`, PAPPL's "NONCE~HEX" form
// (HEX the SHA-256 of "NONCE:password").
bool passwordMatches(const char* storedHash, const char* password);

// PAPPL's form of `password` for `salt`: "NONCE~HEX" with the nonce of an
// earlier hash `salt`, or with `freshNonce` when `salt` is none. Writes into
// `buffer` and returns it.
char* hashPassword(const char* salt, const char* freshNonce, const char* password, char* buffer, size_t size);
