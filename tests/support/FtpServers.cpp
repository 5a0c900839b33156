#include "tests/support/FtpServers.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "tests/support/LoopbackPeer.h"

extern char** environ;

namespace ftpserver {
namespace {

namespace fs = std::filesystem;

int Spawn(const std::vector<std::string>& argv, int stdoutFd, const std::string& logPath) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
  posix_spawn_file_actions_addopen(&actions, 2, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

bool Accepts(std::uint16_t port) {
  const int fd = peer::Connect(port);
  if (fd >= 0) peer::Close(fd);
  return fd >= 0;
}

int Run(const std::string& command) { return std::system(command.c_str()); }

bool UserExists(const std::string& user) { return Run("id -u " + user + " >/dev/null 2>&1") == 0; }

}  // namespace

std::string MakeTempDir(const std::string& prefix) {
  std::string pattern = (fs::temp_directory_path() / (prefix + "XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string PatternBytes(std::size_t size, std::uint32_t seed) {
  std::string bytes(size, '\0');
  std::uint32_t x = seed;
  for (char& ch : bytes) {
    x = x * 1103515245u + 12345u;
    ch = static_cast<char>(x >> 24);
  }
  return bytes;
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  fs::remove_all(path, ec);
}

std::unique_ptr<Server> Server::Start(Kind kind, const Options& options, std::string& reason) {
  std::unique_ptr<Server> server(new Server);
  server->kind_ = kind;
  server->workDir_ = MakeTempDir("qs-ftpd-");
  std::string log = server->workDir_ + "/server.log";

  if (kind == Kind::Pyftpdlib) {
    if (!fs::exists("/usr/bin/python3") || Run("/usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null") != 0) {
      reason = "pyftpdlib is not installed (package python3-pyftpdlib)";
      return nullptr;
    }
    std::vector<std::string> argv = {"/usr/bin/python3", QS_SOURCE_DIR "/scripts/ftp-server.py", "--root",
                                     options.root,       "--user",                           options.user,
                                     "--password",       options.password};
    for (const std::string& line : options.greeting) {
      argv.push_back("--greeting");
      argv.push_back(line);
    }
    if (!options.tlsCertificate.empty()) {
      argv.insert(argv.end(), {"--tls-cert", options.tlsCertificate, "--tls-key", options.tlsKey});
    }
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return nullptr;
    server->pid_ = Spawn(argv, pipeFds[1], log);
    close(pipeFds[1]);
    // The script says "READY <port>" once it listens.
    std::string line;
    char c;
    pollfd p{pipeFds[0], POLLIN, 0};
    while (poll(&p, 1, 10000) > 0 && read(pipeFds[0], &c, 1) == 1 && c != '\n') line += c;
    close(pipeFds[0]);
    if (line.rfind("READY ", 0) != 0) {
      reason = "pyftpdlib did not start (see " + log + ")";
      return nullptr;
    }
    server->port_ = static_cast<std::uint16_t>(std::stoi(line.substr(6)));
    return server;
  }

  if (geteuid() != 0) {
    reason = "vsftpd needs root";
    return nullptr;
  }
  // vsftpd logs on a system user that the harness creates and removes: tests in other processes
  // (ctest runs several at once) take turns, so that none removes the user under another's feet.
  server->lockFd_ = open("/tmp/quillstage-vsftpd-tests.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (server->lockFd_ >= 0) flock(server->lockFd_, LOCK_EX);
  if (!fs::exists("/usr/sbin/vsftpd")) {
    reason = "vsftpd is not installed (package vsftpd)";
    return nullptr;
  }
  if (!UserExists(options.user)) {
    if (Run("useradd -M -d '" + options.root + "' -s /bin/bash " + options.user + " >/dev/null 2>&1") != 0) {
      reason = "cannot create the user " + options.user;
      return nullptr;
    }
    server->createdUser_ = options.user;
  }
  Run("echo '" + options.user + ":" + options.password + "' | chpasswd");
  std::string empty = server->workDir_ + "/empty";
  fs::create_directories(empty);
  chmod(options.root.c_str(), 0755);
  server->port_ = peer::UnusedPort();
  std::string config = server->workDir_ + "/vsftpd.conf";
  std::ofstream(config) << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" << server->port_
                        << "\nbackground=NO\nanonymous_enable=NO\nlocal_enable=YES\nwrite_enable=NO\nlocal_root="
                        << options.root
                        << "\nchroot_local_user=YES\nallow_writeable_chroot=YES\npam_service_name=vsftpd\n"
                           "secure_chroot_dir="
                        << empty
                        << "\nconnect_from_port_20=NO\ndelay_failed_login=0\nseccomp_sandbox=NO\n"
                           "userlist_enable=NO\nvsftpd_log_file="
                        << server->workDir_ << "/vsftpd.log\n";
  if (!options.tlsCertificate.empty()) {
    // Data connections must take up the control connection's TLS session (vsftpd's default).
    std::ofstream(config, std::ios::app) << "ssl_enable=YES\nrsa_cert_file=" << options.tlsCertificate
                                         << "\nrsa_private_key_file=" << options.tlsKey
                                         << "\nforce_local_logins_ssl=YES\nforce_local_data_ssl=YES\n"
                                            "require_ssl_reuse=YES\nssl_ciphers=HIGH\n";
  }
  chmod(config.c_str(), 0600);
  server->pid_ = Spawn({"/usr/sbin/vsftpd", config}, -1, log);
  for (int i = 0; i < 200 && !Accepts(server->port_); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!Accepts(server->port_)) {
    reason = "vsftpd did not start (see " + log + ")";
    return nullptr;
  }
  return server;
}

Server::~Server() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status;
    waitpid(pid_, &status, 0);
  }
  if (!createdUser_.empty()) Run("userdel " + createdUser_ + " >/dev/null 2>&1");
  RemoveTree(workDir_);
  if (lockFd_ >= 0) close(lockFd_);  // lets the next vsftpd test go on
}

}  // namespace ftpserver
