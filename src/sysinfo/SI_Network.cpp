#include "sysinfo/SI_Network.h"

#include <arpa/inet.h>
#include <gnu/libc-version.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include "base/SysUtils.h"
#include "sysinfo/Routines.h"
#include "sysinfo/SI_Devices.h"

void TWinsock::GetInfo() {
  const std::string v = gnu_get_libc_version();
  Description = "GNU C Library sockets " + v;
  Status = "Running";
  MajorVersion = static_cast<uint16_t>(ParseLeadingInt(v, 0));
  size_t dot = v.find('.');
  MinorVersion = static_cast<uint16_t>(dot == std::string::npos ? 0 : ParseLeadingInt(v.substr(dot + 1), 0));
}

std::string GetLocalIPs() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return "";
  std::string out;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
    auto* in = reinterpret_cast<sockaddr_in*>(a->ifa_addr);
    if ((ntohl(in->sin_addr.s_addr) >> 24) == 127) continue;
    char buf[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &in->sin_addr, buf, sizeof buf)) continue;
    if (!out.empty()) out += ",";
    out += buf;
  }
  freeifaddrs(list);
  return out;
}

void TNetwork::PickAdapters(const TDevices& devices) {
  Adapters.Clear();
  CardAdapterIndex = -1;
  MACAddresses.Clear();
  for (const TDevice& d : devices.Devices) {
    if (d.DeviceType != dtNet) continue;
    Adapters.Add(d.FriendlyName.empty() ? d.Description : d.FriendlyName);
    if (CardAdapterIndex < 0 && !d.Location.empty()) CardAdapterIndex = Adapters.Count() - 1;
    const std::string& mac = d.HardwareID;
    if (!mac.empty() && mac != "00:00:00:00:00:00" && MACAddresses.IndexOf(mac) < 0) MACAddresses.Add(mac);
  }
}

void TNetwork::FillFrom(const std::string& sysRoot, const std::string& procRoot) {
  GuardedCall("TWinsock.GetInfo", ExceptionMode, [this] { WinSock.GetInfo(); });
  IPAddresses.Clear();
  std::string ips = GetLocalIPs();
  size_t pos = 0;
  while (!ips.empty() && pos <= ips.size()) {
    size_t comma = ips.find(',', pos);
    if (comma == std::string::npos) comma = ips.size();
    IPAddresses.Add(ips.substr(pos, comma - pos));
    pos = comma + 1;
  }
  TDevices devices;
  devices.FillFrom(sysRoot, procRoot);
  PickAdapters(devices);
  // protocol families the kernel offers; services and clients have no counterpart
  Protocols.Clear();
  Services.Clear();
  Clients.Clear();
  std::string text;
  ReadSysFile(procRoot + "/net/protocols", text, 256 * 1024);
  size_t p = text.find('\n');  // header line
  while (p != std::string::npos && p + 1 < text.size()) {
    size_t end = text.find('\n', p + 1);
    std::string line = text.substr(p + 1, end == std::string::npos ? std::string::npos : end - p - 1);
    p = end;
    std::string name = Trim(line.substr(0, line.find(' ')));
    if (!name.empty() && Protocols.IndexOf(name) < 0) Protocols.Add(name);
  }
}
