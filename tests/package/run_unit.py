#!/usr/bin/env python3
"""Starts a service's command line the way systemd would, on a machine where systemd does not run:
    run_unit.py UNIT STATE_DIR [--instance NAME] [--environment-file FILE]
reads UNIT's [Service] section and execs its ExecStart= with the variables of its
EnvironmentFile= (or FILE in its place, an administrator's edited copy) expanded as systemd
expands them ("${NAME}" stays one word, a lone "$NAME" splits at white space), in its
WorkingDirectory=, with its UMask=, as nobody when DynamicUser=yes (run as root), and with
STATE_DIR standing in for the StateDirectory= under /var/lib that systemd would make. Anything
in the unit this does not know how to honour ends the run with a message, rather than starting
the command differently from the unit.
"""
import os
import pwd
import re
import shlex
import sys

HANDLED = {
    "Type", "EnvironmentFile", "WorkingDirectory", "ExecStart", "Restart", "RestartSec",
    "DynamicUser", "StateDirectory", "StateDirectoryMode", "UMask",
}


def fail(message):
    sys.exit(f"run_unit: {message}")


def read_service(path):
    section, entries = None, []
    with open(path, encoding="utf-8") as unit:
        for line in unit:
            line = line.strip()
            if not line or line[0] in "#;":
                continue
            if line.startswith("["):
                section = line
                continue
            if section == "[Service]":
                key, _, value = line.partition("=")
                entries.append((key.strip(), value.strip()))
    return entries


def read_environment_file(path):
    values = {}
    with open(path, encoding="utf-8") as lines:
        for line in lines:
            line = line.strip()
            if not line or line[0] in "#;":
                continue
            name, sep, value = line.partition("=")
            if not sep or not re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]*", name.strip()):
                fail(f"{path}: not NAME=value: {line}")
            value = value.strip()
            if len(value) >= 2 and value[0] == value[-1] and value[0] in "\"'":
                value = value[1:-1]
            values[name.strip()] = value
    return values


def specifiers(text, instance):
    def replace(match):
        letter = match.group(1)
        if letter == "%":
            return "%"
        if letter in "iI" and instance is not None:
            return instance
        fail(f"specifier %{letter} is not handled here")
    return re.sub(r"%(.)", replace, text)


def expand_command(command, environment):
    words = []
    for word in shlex.split(command):
        lone = re.fullmatch(r"\$([A-Za-z_][A-Za-z0-9_]*)", word)
        if lone:
            words.extend(environment.get(lone.group(1), "").split())
            continue
        words.append(re.sub(r"\$\{([A-Za-z_][A-Za-z0-9_]*)\}",
                            lambda m: environment.get(m.group(1), ""), word))
    return words


def main():
    args = sys.argv[1:]
    instance, environment_override = None, None
    while len(args) > 2 and args[-2] in ("--instance", "--environment-file"):
        if args[-2] == "--instance":
            instance = args[-1]
        else:
            environment_override = args[-1]
        args = args[:-2]
    if len(args) != 2:
        fail(__doc__)
    unit_path, state_dir = args

    entries = read_service(unit_path)
    settings = {}
    for key, value in entries:
        if key in HANDLED:
            settings.setdefault(key, []).append(specifiers(value, instance))
        # Sandboxing (Protect*, Restrict*, SystemCallFilter, ...) only takes things away; the
        # board must work without them here and with them under systemd.
        elif not re.match(r"(Protect|Restrict|Private|SystemCall|Capability|NoNewPrivileges|"
                          r"LockPersonality|MemoryDenyWriteExecute|ProcSubset)", key):
            fail(f"{unit_path}: {key}= is not handled here")

    state_directories = settings.get("StateDirectory", [])
    if len(state_directories) != 1:
        fail("expected one StateDirectory=")
    state_path = "/var/lib/" + state_directories[0]

    def mapped(path):
        if path == state_path or path.startswith(state_path + "/"):
            return state_dir + path[len(state_path):]
        return path

    environment = {}
    for entry in settings.get("EnvironmentFile", []):
        optional = entry.startswith("-")
        path = environment_override or entry.lstrip("-")
        if not os.path.exists(path) and optional:
            continue
        environment.update(read_environment_file(path))
    environment["STATE_DIRECTORY"] = state_dir
    environment.setdefault("PATH", "/usr/local/bin:/usr/bin:/bin")
    environment.setdefault("LANG", "C.UTF-8")

    commands = settings.get("ExecStart", [])
    if len(commands) != 1:
        fail("expected one ExecStart=")
    words = expand_command(commands[0], environment)

    os.makedirs(state_dir, exist_ok=True)
    user = None
    if settings.get("DynamicUser", ["no"])[-1] in ("yes", "true", "1"):
        if os.getuid() == 0:
            user = pwd.getpwnam("nobody")
            os.chown(state_dir, user.pw_uid, user.pw_gid)
    mode = settings.get("StateDirectoryMode", ["0755"])[-1]
    os.chmod(state_dir, int(mode, 8))
    os.chdir(mapped(settings.get("WorkingDirectory", ["/"])[-1]))
    os.umask(int(settings.get("UMask", ["0022"])[-1], 8))
    if user is not None:
        os.setgroups([])
        os.setgid(user.pw_gid)
        os.setuid(user.pw_uid)
    os.execve(words[0], words, environment)


if __name__ == "__main__":
    main()
