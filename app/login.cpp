// Logins of remote administrators; see login.h. The credentials come in the
// request's Authorization field as "Basic BASE64(user:password)". With no
// auth-service the user name is not looked at and the password must be the
// access password; with one, PAM checks the account and password (as `login`
// would) and the account must be in the admin group.
#include "app/login.h"

#include <grp.h>
#include <pwd.h>
#include <security/pam_appl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kHashChars = 64;  // hexadecimal SHA-256

// The user and password of a "Basic" Authorization value; false if none.
bool basicCredentials(const char* field, std::string& user, std::string& password) {
  if (field == nullptr || std::strncmp(field, "Basic ", 6) != 0) return false;
  field += 6;
  while (*field == ' ') ++field;
  char decoded[512];
  int length = sizeof decoded - 1;
  httpDecode64_2(decoded, &length, field);
  decoded[length >= 0 && length < static_cast<int>(sizeof decoded) ? length : 0] = '\0';
  const char* colon = std::strchr(decoded, ':');
  if (colon == nullptr) return false;
  user.assign(decoded, static_cast<size_t>(colon - decoded));
  password = colon + 1;
  return true;
}

// Compares two strings of equal length in a time that does not depend on
// where they differ.
bool sameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

// PAM's questions answered with the user name and password (`data`).
int answerPam(int count, const pam_message** messages, pam_response** answers, void* data) {
  auto* credentials = static_cast<const std::pair<std::string, std::string>*>(data);
  auto* replies = static_cast<pam_response*>(std::calloc(static_cast<size_t>(count), sizeof(pam_response)));
  if (replies == nullptr) return PAM_CONV_ERR;
  for (int i = 0; i < count; ++i) {
    int style = messages[i]->msg_style;
    if (style == PAM_PROMPT_ECHO_ON) replies[i].resp = strdup(credentials->first.c_str());
    if (style == PAM_PROMPT_ECHO_OFF) replies[i].resp = strdup(credentials->second.c_str());
  }
  *answers = replies;
  return PAM_SUCCESS;
}

// Whether PAM service `service` accepts `user` with `password`.
bool pamAccepts(const std::string& service, const std::string& user, const std::string& password,
                const char* remoteHost) {
  std::pair<std::string, std::string> credentials{user, password};
  pam_conv conversation{answerPam, &credentials};
  pam_handle_t* pam = nullptr;
  int status = pam_start(service.c_str(), user.c_str(), &conversation, &pam);
  if (status == PAM_SUCCESS) status = pam_set_item(pam, PAM_RHOST, remoteHost);
  if (status == PAM_SUCCESS) status = pam_authenticate(pam, PAM_SILENT);
  if (status == PAM_SUCCESS) status = pam_acct_mgmt(pam, PAM_SILENT);
  if (pam != nullptr) pam_end(pam, status);
  return status == PAM_SUCCESS;
}

// Whether account `user` is in group `group` (as its own group or another).
bool inGroup(const std::string& user, const std::string& group) {
  const passwd* account = getpwnam(user.c_str());
  const struct group* entry = getgrnam(group.c_str());
  if (account == nullptr || entry == nullptr) return false;
  std::vector<gid_t> groups(64);
  int count = static_cast<int>(groups.size());
  if (getgrouplist(user.c_str(), account->pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count));
    if (getgrouplist(user.c_str(), account->pw_gid, groups.data(), &count) < 0) return false;
  }
  for (int i = 0; i < count; ++i) {
    if (groups[static_cast<size_t>(i)] == entry->gr_gid) return true;
  }
  return false;
}

}  // namespace

char* hashPassword(const char* salt, const char* freshNonce, const char* password, char* buffer, size_t size) {
  std::string nonce = freshNonce;
  if (const char* tilde = salt != nullptr ? std::strchr(salt, '~') : nullptr) {
    nonce.assign(salt, static_cast<size_t>(tilde - salt));  // the nonce of an earlier hash
  }
  std::string text = nonce + ":" + password;
  unsigned char sum[32];
  char hex[kHashChars + 1];
  cupsHashData("sha2-256", text.data(), text.size(), sum, sizeof sum);
  cupsHashString(sum, sizeof sum, hex, sizeof hex);
  std::snprintf(buffer, size, "%s~%s", nonce.c_str(), hex);
  return buffer;
}

bool passwordMatches(const char* storedHash, const char* password) {
  if (storedHash == nullptr || std::strchr(storedHash, '~') == nullptr || password == nullptr) return false;
  char hash[256];
  hashPassword(storedHash, "", password, hash, sizeof hash);
  return sameText(hash, storedHash);
}

Login checkLogin(pappl_client_t* client, const AccessSettings& settings) {
  std::string user, password;
  if (!basicCredentials(httpGetField(papplClientGetHTTP(client), HTTP_FIELD_AUTHORIZATION), user, password)) {
    return Login::Missing;
  }
  pappl_system_t* system = papplClientGetSystem(client);
  if (settings.authService.empty()) {
    char stored[256];
    papplSystemGetPassword(system, stored, sizeof stored);
    if (passwordMatches(stored, password.c_str())) return Login::Accepted;
  } else if (char peer[256]; pamAccepts(settings.authService, user, password,
                                        httpGetHostname(papplClientGetHTTP(client), peer, sizeof peer))) {
    if (inGroup(user, settings.adminGroup)) return Login::Accepted;
    papplLogClient(client, PAPPL_LOGLEVEL_WARN, "\"%s\" logged in but is not in group %s.", user.c_str(),
                   settings.adminGroup.c_str());
    return Login::Forbidden;
  }
  papplLogClient(client, PAPPL_LOGLEVEL_WARN, "Wrong login for \"%s\".", user.c_str());
  return Login::Missing;
}
