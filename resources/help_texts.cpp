// The help texts, built from shared paragraphs by literal concatenation so that no copy is made.
#include "resources/help_texts.h"

// An empty line between paragraphs; no text ends with a line break.
#define VIVEDIZ_BREAK u"\r\n\r\n"

// The TCP value paragraphs, shared by all three texts.
#define VIVEDIZ_TCP_VALUES \
  u"DefaultSendWindow - Number of bytes for the default send window.  When enabled, the "        \
  u"default is 1048576." VIVEDIZ_BREAK                                                           \
  u"DefaultReceiveWindow - Number of bytes for the default receive window.  When enabled, the "  \
  u"default is 1048576." VIVEDIZ_BREAK                                                           \
  u"TcpWindowSize - Number of bytes for the default tcp window.  When enabled, the default is "  \
  u"1048576." VIVEDIZ_BREAK                                                                      \
  u"Tcp1323Opts - Controls the tcp 1323 options.  When enabled, the default is 1." VIVEDIZ_BREAK \
  u"FastSendDataThreshold - Number of bytes for the fast send data threshold.  When enabled, "   \
  u"the default is 16384."

// The TCP text, which the Serial MSI text continues; its Enable paragraph is worded differently
// from the Xen text's.
#define VIVEDIZ_TCP_TEXT                                                                \
  u"TCP Options: Enable - When checked, the options are turned on and are allow to be " \
  u"modified.  Unchecking the box will remove the options." VIVEDIZ_BREAK VIVEDIZ_TCP_VALUES

// The Serial MSI text's own first paragraph, with the break that leads into the TCP text.
#define VIVEDIZ_SERIAL_MSI_FIRST                                                                \
  u"Serial MSI - If checked, MSI interrupts will be used.  If not checked, regular interrupts " \
  u"are used (default).  If there is a possiblity that the VM will hibernate, do not use MSI "  \
  u"interrupts.  MSI interrupts are not available after a hibernate." VIVEDIZ_BREAK

namespace resources {
namespace {

constexpr char16_t kXenText[] =
    u"Disk - can be All, xvd<x>, and None.  When set to All, the disk driver will control all "
    u"hard disks presented to the VM.  If set to xvd<x>, the disk driver will only control disk "
    u"that are specified as xvd<x> in the VM's config file.  <x> is a letter beginning with "
    u"'e'.  If set to None, the disk driver will not control any hard disks presented the the "
    u"VM.  The default is All." VIVEDIZ_BREAK
    u"LAN - can be st to All, Netfront, and None.  When set to All, the LAN driver will control "
    u"all NICs presented to the VM.  If set to Netfront, the LAN driver will only control NICs "
    u"that are specified with 'type=netfront' in the VM's config file.  If set to None, the LAN "
    u"driver not control any NICs presented to the VM.  The default is All." VIVEDIZ_BREAK
    u"Ballooning - If checked, TARN will balloon memory to match the memory parameter in the "
    u"config file if it is less than the maxmem.  With ballooning on, the VM will respond to the "
    u"'xm mem-set' command.  The default is checked." VIVEDIZ_BREAK
    u"Instance IDs - When checked, Instance IDs allows the attach/detach/attach of NICs to the VM "
    u"to retain their configuration.  The default is checked for new installations.  For "
    u"upgrades, it is checked or not based on the value before the upgrade.  Toggling can "
    u"require interfaces to be manually reconfigured." VIVEDIZ_BREAK
    u"Use one controller - When checked, all Xen block hard disks will be on the same "
    u"controller.  When not checked, each disk will be on its own controller." VIVEDIZ_BREAK
    u"Boot PV SCSI - Boot off a PV SCSI disk.  A bootable PV SCSI disk must be "
    u"present." VIVEDIZ_BREAK
    u"Grant Frames - TARN drivers communicate I/O data to and from the host via grants.  Each "
    u"NIC presented to the VM requires one grant frame.  Set this value to one more than the "
    u"number of NICs to be used in the VM at any given time.  The minimum is 4, the default is "
    u"10, and the maximum is 32." VIVEDIZ_BREAK
    u"Max Disks - Maximum number of hard disks that can be attached to the VM.  For the TARN "
    u"disk driver to control hard disk, the minimum must be 1.  The default is 32 and the "
    u"maximum is 256." VIVEDIZ_BREAK
    u"Shutdown Delay - Number of seconds to wait before executing and shutdown/reboot when a 'xm "
    u"shutdown' or 'xm reboot' command is issued from the host.  This value does not apply when "
    u"shutting down or rebooting the VM from within the VM.  The default is 0." VIVEDIZ_BREAK
    u"Resource Timeout - Number of seconds to wait for resources to be returned to the VM from "
    u"the host before allowing the VM to be shutdown or reboot.  The default is 0." VIVEDIZ_BREAK
    u"TCP Options: Enable - When checked, options are turned on and can be modified.  Unchecking "
    u"the box removes the options." VIVEDIZ_BREAK VIVEDIZ_TCP_VALUES;

// The TCP text is the tail of the Serial MSI text, so its characters are stored only once.
constexpr char16_t kSerialMsiText[] = VIVEDIZ_SERIAL_MSI_FIRST VIVEDIZ_TCP_TEXT;
constexpr const char16_t* kTcpText =
    kSerialMsiText + sizeof(VIVEDIZ_SERIAL_MSI_FIRST) / sizeof(char16_t) - 1;

}  // namespace

const char16_t* help_text(platform::u32 help_kind) {
  switch (help_kind) {
    case help_tcp:
      return kTcpText;
    case help_serial_msi:
      return kSerialMsiText;
    default:
      return kXenText;
  }
}

}  // namespace resources

#undef VIVEDIZ_SERIAL_MSI_FIRST
#undef VIVEDIZ_TCP_TEXT
#undef VIVEDIZ_TCP_VALUES
#undef VIVEDIZ_BREAK
