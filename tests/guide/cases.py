"""What each command block of the administrator's guide must do, run against a prepared registry.

A case prepares the registry (on top of the baseline, which the runner makes first), runs steps
(guide blocks by name, registry changes that stand for the program or for other people, Windows
XP's reg.exe), and lists every change it expects between the state before its first step and after
its last, in the words of reg_state.differences; any other change fails it. `output` holds, for
the step of that index, patterns its output must match.
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
SERIAL = ROOT + "\\Enum\\PCI\\VEN_1AF4&DEV_1003&SUBSYS_00031AF4&REV_00"
MSI = "\\Device Parameters\\Interrupt Management\\MessageSignaledInterruptProperties"
SERIAL_MSI_1 = SERIAL + "\\3&13c0b0c5&0&28" + MSI
SERIAL_MSI_2 = SERIAL + "\\3&13c0b0c5&0&30" + MSI
XEN_VBD = ROOT + "\\Enum\\XEN\\type_vbd\\1"

# Trees the cases may create or change; the baseline removes them. Keys that the runner saves and
# puts back around the whole run, so that the prefix is left as it was found.
OWNED_TREES = [SERVICES + "\\" + s for s in ("vdbus", "ldbus", "vdblk", "vdscsi", "ldblk", "ldscsi")]
OWNED_TREES += [ADAPTER, SERIAL, ROOT + "\\Enum\\XEN"]
OWNED_VALUES = {AFD: ["DefaultSendWindow", "DefaultReceiveWindow", "FastSendDatagramThreshold"],
                TCPIP: ["TcpWindowSize", "Tcp1323Opts"]}
# Where the runner looks for changes: everything below these.
WATCHED = [SERVICES, ROOT + "\\Enum"]


# The backup script ships in the release; the guide's block runs it from the current folder.
BACKUP = ("block", "backup", "run-backup.cmd", "docs/vivediz-backup.cmd")


def dword(value):
    return "dword:%08x" % value


class Case:
    def __init__(self, name, prepare, steps, changes, output=None):
        self.name = name
        self.prepare = prepare  # {key: {name: data as .reg writes it}}; {} makes just the key
        # ("block", NAME[, FILE[, SHIPPED]]): the block under cmd, written to FILE, with the
        # release's file SHIPPED beside it | ("registry", {key: {name: data|None}}) | ("xp",)
        # | ("release", NAME): the block runs in bash in a release folder made from dist/
        # | ("dialog", NAME): the acceptance kit runs the block, then the scenario that follows it
        self.steps = steps
        self.changes = sorted(changes)
        self.output = output or {}

    def blocks(self):
        return [s[1] for s in self.steps if s[0] in ("block", "release", "dialog")]


def _stored():
    """A guest with the current drivers, some values stored and some not, and an adapter."""
    return {
        BUS: {"max_disks": dword(64), "timeout": dword(0xFFFFFFFF), "use_pv_drivers": dword(0x2003)},
        AFD: {"DefaultSendWindow": dword(1048576)},
        TCPIP: {},
        ADAPTER: {"IPAddress": '"10.0.0.5"', "EnableDHCP": dword(0)},
        VDBLK_OVERRIDE: {"0": dword(3)},
        SERIAL_MSI_1: {"MSISupported": dword(1)},
        SERIAL_MSI_2: {},
    }


# What the program may change on OK, on that guest: every kind of change the restore must undo.
PROGRAM_CHANGES = ("registry", {
    BUS: {"max_disks": dword(32), "grant_frames": dword(16), "use_pv_drivers": dword(3)},
    AFD: {"DefaultSendWindow": None, "DefaultReceiveWindow": dword(1048576)},
    TCPIP: {"Tcp1323Opts": dword(1)},
    VDBLK_OVERRIDE: None,
    SERIAL_MSI_1: {"MSISupported": dword(0)},
    SERIAL_MSI_2: {"MSISupported": dword(0)},
})
# Someone changes the adapter's address after the backup: the restore must leave it.
ADDRESS_CHANGED = ("registry", {ADAPTER: {"IPAddress": '"10.0.0.9"'}})


def set_value(key, name, data, was=None):
    return 'value set: %s "%s" = %s (%s)' % (key, name, data,
                                            "was not stored" if was is None else "was " + was)


def deleted_value(key, name, was):
    return 'value deleted: %s "%s" (was %s)' % (key, name, was)


ADDRESS_CHANGE = [set_value(ADAPTER, "IPAddress", '"10.0.0.9"', '"10.0.0.5"')]
MISSING_KEY = r"(?i)(unable to find|ERROR)"

CASES = [
    Case("backup and restore give back exactly what the program changed", _stored(),
         [BACKUP, PROGRAM_CHANGES, ADDRESS_CHANGED, BACKUP, ("block", "restore")],
         ADDRESS_CHANGE, {3: [r"exists already"]}),
    Case("backup and restore with Windows XP's reg.exe", _stored(),
         [("xp",), BACKUP, PROGRAM_CHANGES,
          ADDRESS_CHANGED, ("block", "restore")],
         ADDRESS_CHANGE),
    Case("backup and restore on a guest with the older drivers, nothing stored",
         {LEGACY_BUS: {}, AFD: {}, TCPIP: {}},
         [BACKUP,
          ("registry", {LEGACY_BUS: {"max_disks": dword(8)}, AFD: {"DefaultSendWindow": dword(1)},
                        TCPIP: {"TcpWindowSize": dword(1), "Tcp1323Opts": dword(1)}}),
          ("block", "restore")],
         []),
    Case("the two settings keys tell the generation", {BUS: {"max_disks": dword(64)}},
         [("block", "which-generation")], [],
         {0: [r"^ +max_disks +REG_DWORD +0x40$", MISSING_KEY]}),
    Case("Boot PV SCSI cleared by hand on Windows 2000/XP", {BUS: {"use_pv_drivers": dword(0x2003)}},
         [("block", "boot-pv-scsi-by-hand")],
         [set_value(BUS, "use_pv_drivers", dword(3), dword(0x2003))]),
    Case("Boot PV SCSI cleared by hand creates no current drivers' key on the older drivers",
         {LEGACY_BUS: {"use_pv_drivers": dword(0x2003)}}, [("block", "boot-pv-scsi-by-hand")],
         [set_value(LEGACY_BUS, "use_pv_drivers", dword(3), dword(0x2003))]),
    Case("the devices' configuration flags listed",
         {XEN_VBD: {"ConfigFlags": dword(0x400)}, XEN_VBD[:-1] + "2": {"ConfigFlags": dword(0)}},
         [("block", "configuration-flags")], [],
         {0: [r"type_vbd\\1$\n +ConfigFlags +REG_DWORD +0x400$",
              r"type_vbd\\2$\n +ConfigFlags +REG_DWORD +0x0$"]}),
    Case("checking the result shows the values",
         {BUS: {"max_disks": dword(64)}, AFD: {"DefaultSendWindow": dword(1048576)},
          TCPIP: {"Tcp1323Opts": dword(1)}, VDBLK_OVERRIDE: {"0": dword(3)},
          VDSCSI_OVERRIDE: {"1": dword(1)}, SERIAL_MSI_1: {"MSISupported": dword(1)}},
         [("block", "check-result")], [],
         {0: [r"^ +max_disks +REG_DWORD +0x40$", r"^ +DefaultSendWindow +REG_DWORD +0x100000$",
              r"^ +Tcp1323Opts +REG_DWORD +0x1$", r"vdblk\\StartOverride$\n +0 +REG_DWORD +0x3$",
              r"vdscsi\\StartOverride$\n +1 +REG_DWORD +0x1$",
              r"DEV_1003[^\n]*MessageSignaledInterruptProperties$\n +MSISupported +REG_DWORD +0x1$"]}),
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
              r"^vivediz-backup\.cmd: OK$"]}),
    Case("the dialog after Boot PV SCSI is cleared by hand on Windows XP", {},
         [("dialog", "boot-pv-scsi-by-hand")], []),
]
