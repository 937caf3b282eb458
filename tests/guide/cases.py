"""What each command block of the administrator's guide must do, run against a prepared registry.

A case prepares the registry (on top of the baseline, which the runner makes first), runs steps
(guide blocks by name, registry changes that stand for the program or for other people) in its
folder, and lists every change it expects between the state before its first step and after its
last, in the words of reg_state.differences; any other change fails it. `output` holds, for the
step of that index, patterns its output (with "exit status N" when not 0) must match.
"""

ROOT = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet"
SERVICES = ROOT + "\\Services"
BUS = SERVICES + "\\vdbus\\Parameters\\Device"
LEGACY_BUS = SERVICES + "\\ldbus\\Parameters\\Device"
AFD = SERVICES + "\\AFD\\Parameters"
TCPIP = SERVICES + "\\Tcpip\\Parameters"
ADAPTER = TCPIP + "\\Interfaces\\{5E2A1B7C-0D3F-4C8A-9B61-2F4E7D0A9C13}"
VDBLK_OVERRIDE = SERVICES + "\\vdblk\\StartOverride"
VDSCSI_OVERRIDE = SERVICES + "\\vdscsi\\StartOverride"
LDBLK_OVERRIDE = SERVICES + "\\ldblk\\StartOverride"
SERIAL = ROOT + "\\Enum\\PCI\\VEN_1AF4&DEV_1003&SUBSYS_00031AF4&REV_00"
MSI = "\\Device Parameters\\Interrupt Management\\MessageSignaledInterruptProperties"
SERIAL_MSI_1 = SERIAL + "\\3&13c0b0c5&0&28" + MSI
SERIAL_MSI_2 = SERIAL + "\\3&13c0b0c5&0&30" + MSI
XEN_VBD = ROOT + "\\Enum\\XEN\\type_vbd\\1"

# Trees the cases may create or change; the baseline removes them. Keys that the runner saves and
# puts back around the whole run, so that the prefix is left as it was found.
OWNED_TREES = [SERVICES + "\\" + s for s in ("vdbus", "ldbus", "vdblk", "vdscsi", "ldblk", "ldscsi")]
# The undo program's marks of its saves, which a restore removes.
MARKS = "HKEY_LOCAL_MACHINE\\SOFTWARE\\vivediz"
OWNED_TREES += [ADAPTER, SERIAL, ROOT + "\\Enum\\XEN", MARKS]
OWNED_VALUES = {AFD: ["DefaultSendWindow", "DefaultReceiveWindow", "FastSendDatagramThreshold"],
                TCPIP: ["TcpWindowSize", "Tcp1323Opts"]}
# Where the runner looks for changes: everything below these.
WATCHED = [SERVICES, ROOT + "\\Enum", MARKS]


def undo(name):
    """The block NAME with the release's x64 undo program beside it, in the current folder."""
    return ("block", name, "block.cmd", "dist/x64/vivediz-undo.exe")


def dword(value):
    return "dword:%08x" % value


def multi_sz(*strings):
    """REG_MULTI_SZ data as a REGEDIT4 file writes it: in the ANSI code page."""
    data = "".join(x + "\0" for x in strings + ("",)).encode("ascii")
    return "hex(7):" + ",".join("%02x" % b for b in data)


class Case:
    def __init__(self, name, prepare, steps, changes, output=None, folder="guide"):
        self.name = name
        self.prepare = prepare  # {key: {name: data as .reg writes it}}; {} makes just the key
        # ("block", NAME[, FILE[, SHIPPED]]): the block under cmd, written to FILE, with the
        # release's file SHIPPED beside it | ("registry", {key: {name: data|None}})
        # | ("release", NAME): the block runs in bash in a release folder made from dist/
        # | ("dialog", NAME): the acceptance kit runs the block, then the scenario that follows it
        self.steps = steps
        self.changes = sorted(changes)
        self.output = output or {}
        self.folder = folder  # where the blocks run, below a temporary folder

    def blocks(self):
        return [s[1] for s in self.steps if s[0] in ("block", "release", "dialog")]


def _stored():
    """A guest with the current drivers, some values stored and some not, and an adapter."""
    return {
        BUS: {"max_disks": dword(64), "timeout": dword(0xFFFFFFFF), "use_pv_drivers": dword(0x2003),
              "shutdown_delay": '"5"'},
        AFD: {"DefaultSendWindow": dword(1048576)},
        TCPIP: {},
        ADAPTER: {"IPAddress": '"10.0.0.5"', "EnableDHCP": dword(0)},
        VDBLK_OVERRIDE: {"0": dword(3), "a name with spaces": dword(1)},
        SERIAL_MSI_1: {"MSISupported": dword(1)},
        SERIAL_MSI_2: {},
    }


# What the program may change on OK, on that guest: every kind of change the restore must undo.
PROGRAM_CHANGES = ("registry", {
    BUS: {"max_disks": dword(32), "grant_frames": dword(16), "use_pv_drivers": dword(3),
          "shutdown_delay": dword(5)},
    AFD: {"DefaultSendWindow": None, "DefaultReceiveWindow": dword(1048576)},
    TCPIP: {"Tcp1323Opts": dword(1)},
    VDBLK_OVERRIDE: None,
    SERIAL_MSI_1: {"MSISupported": dword(0)},
    SERIAL_MSI_2: {"MSISupported": dword(0)},
})
# Someone changes the adapter's address after the save: the restore must leave it.
ADDRESS_CHANGED = ("registry", {ADAPTER: {"IPAddress": '"10.0.0.9"'}})


def set_value(key, name, data, was=None):
    return 'value set: %s "%s" = %s (%s)' % (key, name, data,
                                            "was not stored" if was is None else "was " + was)


def deleted_value(key, name, was):
    return 'value deleted: %s "%s" (was %s)' % (key, name, was)


ADDRESS_CHANGE = [set_value(ADAPTER, "IPAddress", '"10.0.0.9"', '"10.0.0.5"')]
# What show and restore say of a value the program changed.
CHANGED_MAX_DISKS = r'Device "max_disks": REG_DWORD 0x20 now; a restore writes REG_DWORD 0x40$'
MISSING_KEY = r"(?i)(unable to find|ERROR)"

CASES = [
    Case("save, the program's changes, restore: exactly what changed comes back; show changes "
         "nothing; a second save to the same file is refused", _stored(),
         [undo("undo-save"), PROGRAM_CHANGES, ADDRESS_CHANGED, undo("undo-save"), undo("undo-show"),
          undo("undo-restore")],
         ADDRESS_CHANGE,
         {0: [r"StartOverride: present, 1 key$", r"^saved in .*vivediz-before\.undo$"],
          3: [r"vivediz-before\.undo exists already; nothing was changed$", r"^exit status 1$"],
          4: [CHANGED_MAX_DISKS, r"StartOverride: missing now; a restore creates it$"],
          5: [CHANGED_MAX_DISKS, r"StartOverride: missing now; a restore creates it$",
              r"vivediz-before\.undo was deleted$"]}),
    Case("a StartOverride that appears after the save is deleted by the restore",
         {SERVICES + "\\vdblk": {"Start": dword(0)}, SERVICES + "\\ldblk": {"Start": dword(0)}},
         [undo("undo-save"),
          ("registry", {VDBLK_OVERRIDE: {"0": dword(3)}, LDBLK_OVERRIDE: {"0": dword(3)}}),
          undo("undo-restore")],
         []),
    Case("save and restore in a folder whose path holds ( and )", _stored(),
         [undo("undo-save"), PROGRAM_CHANGES, undo("undo-restore")], [],
         {2: [r"\(x86\)\\vivediz \(1\)\\vivediz-before\.undo was deleted$"]},
         folder="Program Files (x86)/vivediz (1)"),
    Case("save and restore on a guest with the older drivers, nothing stored",
         {LEGACY_BUS: {}, AFD: {}, TCPIP: {}, LDBLK_OVERRIDE: {"0": dword(3)}},
         [undo("undo-save"),
          ("registry", {LEGACY_BUS: {"max_disks": dword(8)}, AFD: {"DefaultSendWindow": dword(1)},
                        TCPIP: {"TcpWindowSize": dword(1), "Tcp1323Opts": dword(1)},
                        LDBLK_OVERRIDE: None}),
          undo("undo-restore")],
         []),
    Case("forget keeps what changed after the save and removes the save's mark",
         {AFD: {"DefaultSendWindow": dword(1)}},
         [undo("undo-save"), ("registry", {AFD: {"DefaultSendWindow": dword(2)}}),
          undo("undo-forget")],
         [set_value(AFD, "DefaultSendWindow", dword(2), dword(1))],
         {2: [r"vivediz-before\.undo is gone was removed"]}),
    Case("the restore puts the devices' configuration flags back",
         # Wine lists the device for its ClassGUID, which it writes back in capitals.
         {XEN_VBD: {"ClassGUID": '"{4D36E97B-E325-11CE-BFC1-08002BE10318}"',
                    "HardwareID": multi_sz("XEN\\TYPE_VBD\\768"), "ConfigFlags": dword(0x400)}},
         [undo("undo-save"), ("registry", {XEN_VBD: {"ConfigFlags": dword(0)}}),
          undo("undo-restore")],
         [], {0: [r"^device XEN\\TYPE_VBD\\1: configuration flags 0x400$"]}),
    Case("the two settings keys tell the generation", {BUS: {"max_disks": dword(64)}},
         [("block", "which-generation")], [],
         {0: [r"^ +max_disks +REG_DWORD +0x40$", MISSING_KEY]}),
    Case("Boot PV SCSI cleared by hand on Windows 2000/XP", {BUS: {"use_pv_drivers": dword(0x2003)}},
         [("block", "boot-pv-scsi-by-hand")],
         [set_value(BUS, "use_pv_drivers", dword(3), dword(0x2003))]),
    Case("Boot PV SCSI cleared by hand creates no current drivers' key on the older drivers",
         {LEGACY_BUS: {"use_pv_drivers": dword(0x2003)}}, [("block", "boot-pv-scsi-by-hand")],
         [set_value(LEGACY_BUS, "use_pv_drivers", dword(3), dword(0x2003))]),
    Case("checking the result shows the values",
         {BUS: {"max_disks": dword(64)}, AFD: {"DefaultSendWindow": dword(1048576)},
          TCPIP: {"Tcp1323Opts": dword(1)}, VDBLK_OVERRIDE: {"0": dword(3)},
          VDSCSI_OVERRIDE: {"1": dword(1)}, SERIAL_MSI_1: {"MSISupported": dword(1)},
          XEN_VBD: {"ConfigFlags": dword(0x400)}},
         [("block", "check-result")], [],
         {0: [r"^ +max_disks +REG_DWORD +0x40$", r"^ +DefaultSendWindow +REG_DWORD +0x100000$",
              r"^ +Tcp1323Opts +REG_DWORD +0x1$", r"vdblk\\StartOverride$\n +0 +REG_DWORD +0x3$",
              r"vdscsi\\StartOverride$\n +1 +REG_DWORD +0x1$",
              r"DEV_1003[^\n]*MessageSignaledInterruptProperties$\n +MSISupported +REG_DWORD +0x1$",
              r"(?i)type_vbd\\1$\n +ConfigFlags +REG_DWORD +0x400$"]}),
    Case("undoing by hand", {BUS: {"max_disks": dword(64)}, AFD: {"DefaultSendWindow": dword(1)}},
         [("block", "undo-by-hand")],
         [deleted_value(AFD, "DefaultSendWindow", dword(1)),
          set_value(BUS, "max_disks", dword(32), dword(64))]),
    Case("the start-up script on a guest with the current drivers", {BUS: {}, TCPIP: {}},
         [("block", "startup-script")],
         [set_value(BUS, "grant_frames", dword(16)), set_value(TCPIP, "Tcp1323Opts", dword(1))]),
    Case("the start-up script creates no current drivers' key on a guest with the older ones",
         {LEGACY_BUS: {}, TCPIP: {}}, [("block", "startup-script")],
         [set_value(LEGACY_BUS, "grant_frames", dword(16)),
          set_value(TCPIP, "Tcp1323Opts", dword(1))]),
    Case("the re-enable's first step by hand", {VDBLK_OVERRIDE: {"0": dword(3)}},
         [("block", "start-override-by-hand")], ["key deleted: " + VDBLK_OVERRIDE]),
    Case("the product name that decides the Windows version", {}, [("block", "product-name")], [],
         {0: [r"^ +ProductName +REG_SZ +\S"]}),
    Case("the release's sums check out on Linux", {}, [("release", "sums")], [],
         {0: [r"^x64/vivediz\.exe: OK$", r"^x86/vivediz\.exe: OK$", r"^ADMINISTRATORS\.txt: OK$",
              r"^x64/vivediz-undo\.exe: OK$", r"^x86/vivediz-undo\.exe: OK$"]}),
    Case("the dialog after Boot PV SCSI is cleared by hand on Windows XP", {},
         [("dialog", "boot-pv-scsi-by-hand")], []),
]
