#!/usr/bin/env python3
"""A campaign of bad inputs against kalvero, as a hostile user would try them.

  tests/campaign/bad_inputs.py BUILD [--runs N] [--jobs J] [--timeout S] [--report FILE]

Eight families (images, selections, --set and --seed values, scripts, stored
settings, the core's resource files, output and record paths, --dialog
without a display), each run in a sandbox of its own with HOME inside it and
KALVERO_MEMORY_LIMIT=2G unless the run sets another, and judged: a crash (a signal, an uncaught
exception, a sanitizer report), a hang (no answer in 20 s; a sanitizer build,
several times slower, is given --timeout 60), a memory blow-up
(twice the memory allowed and half a gigabyte more), a partial output (a failed run that
leaves its output or a temporary file), a write outside (any new file but the
output, the record and the settings folder, or /dev/null replaced) and an unclear message (library
text). Exit status 0 when every count but the runs is 0.
"""
import argparse, json, os, random, shutil, stat, struct, subprocess, sys, tempfile, zlib
from collections import Counter
from multiprocessing import Pool

LIBRARY_WORDS = ["json.exception", "what():", "terminate called", "general failure", "Lost String", "std::",
                 "basic_", "__ios", "libpng", "TIFFRead", "Corrupt JPEG", "Premature end", "Not a JPEG"]
CRASH_WORDS = ["AddressSanitizer", "runtime error:", "LeakSanitizer", "Segmentation", "terminate called"]
SETTINGS = os.path.join("home", ".config", "Brightfold", "Kalvero 2")
KINDS = ["crash", "hang", "memory blow-up", "partial output", "write outside", "unclear message"]
EDGE_EFFECTS = ("Burnt Edges", "Electrify", "Rip Open", "Cracks", "Stain", "Shatter")


def png(w, h, pixel=lambda x, y: (x * 4 % 256, y * 5 % 256, (x ^ y) % 256), ppm=None):
    chunk = lambda t, d: struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d))
    raw = b"".join(b"\0" + b"".join(bytes(pixel(x, y)) for x in range(w)) for y in range(h))
    phys = chunk(b"pHYs", struct.pack(">IIB", ppm, ppm, 1)) if ppm else b""
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) + phys +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def mutations(data, rng, count):
    """Cut, flipped, patched and extended versions of `data`."""
    out = []
    for i in range(count):
        d = bytearray(data)
        kind = i % 5
        if kind == 0:
            d = d[:rng.randrange(len(d))]
        elif kind == 1:
            for _ in range(rng.randint(1, 12)):
                d[rng.randrange(len(d))] = rng.randrange(256)
        elif kind == 2:  # sizes, counts and offsets near the front
            at = rng.randrange(min(len(d), 300))
            d[at:at + 4] = rng.choice([b"\xff\xff\xff\xff", b"\x7f\xff\xff\xff", b"\x00\x00\x00\x00", b"\x80\x00\x00\x00",
                                       b"\x00\x00\x75\x30", b"\xff\xf0\xff\xf0"])
        elif kind == 3:
            at = rng.randrange(len(d))
            d[at:at] = bytes(rng.randrange(256) for _ in range(rng.randint(1, 64)))
        else:
            d = d[:rng.randrange(len(d))] + d[rng.randrange(len(d)):]
        out.append(bytes(d))
    return out


SPECIAL = ["fifo", "folder", "zero-link", "empty", "missing", "text", "dangling"]


def place(sandbox, name, how):
    """A file of `name` in the sandbox: bytes, or one of the SPECIAL kinds."""
    path = os.path.join(sandbox, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if isinstance(how, bytes):
        open(path, "wb").write(how)
    elif how == "fifo":
        os.mkfifo(path)
    elif how == "folder":
        os.makedirs(path)
    elif how == "zero-link":
        os.symlink("/dev/zero", path)
    elif how == "dangling":
        os.symlink(path + ".nowhere", path)
    elif how == "empty":
        open(path, "wb").close()
    elif how == "text":
        open(path, "w").write("not what it should be\n" * 3)
    return path


def plan(build, runs, rng):
    """The campaign: (family, arguments, files to place, extra environment)."""
    desc = json.load(open(os.path.join(build, "resources", "Effects.json")))
    effects = [(e["name"]["text"], e["settings name"], e["parameters"]) for e in desc["effects"]]
    small = png(48, 36)
    mask = png(48, 36, lambda x, y: (255, 255, 255) if (x - 24) ** 2 + (y - 18) ** 2 < 200 else (0, 0, 0))
    seeds = {"in.png": small}
    for ext in ["jpg", "tif"]:
        with tempfile.TemporaryDirectory() as t:
            open(os.path.join(t, "s.png"), "wb").write(small)
            subprocess.run([os.path.join(build, "kalvero"), "apply", "television", os.path.join(t, "s.png"),
                            os.path.join(t, "s." + ext), "-q"], env=dict(os.environ, HOME=t), check=True)
            seeds["in." + ext] = open(os.path.join(t, "s." + ext), "rb").read()
    base = {"in.png": small, "mask.png": mask}
    edge = lambda name: ["--selection", "mask.png"] if name in EDGE_EFFECTS else []
    share = runs // 8
    jobs = []
    # 1 images, 2 selections
    for i, m in enumerate(mutations(seeds["in.png"], rng, share // 3) +
                          mutations(seeds["in.jpg"], rng, share // 3) + mutations(seeds["in.tif"], rng, share // 3)):
        name = effects[i % len(effects)][0]
        jobs.append(("images", ["apply", name, "bad.img", "out.png", "-q"] + edge(name), dict(base, **{"bad.img": m}), {}))
    for how in SPECIAL * 4:
        jobs.append(("images", ["apply", "television", "bad.img", "out.png"], dict(base, **{"bad.img": how}), {}))
    for i, m in enumerate(mutations(mask, rng, share) + SPECIAL * 3 + [png(47, 36), png(1, 1)]):
        name = effects[i % len(effects)][0]
        jobs.append(("selections", ["apply", name, "in.png", "out.png", "--selection", "bad.png", "-q"],
                     dict(base, **{"bad.png": m}), {}))
    # 3 --set and --seed values for every parameter
    values = ["", "nan", "-nan", "inf", "-inf", "1e999", "-1e400", "1e-400", "-0", "0x1p3", "  7 ", "12 parsecs",
              "5 cm cm", "#zzzzzz", "#12345", "300,300,300", "-1,-1,-1", "1e308,1e308", "nan,nan", "50%,nan%",
              "1e308%,5%", "on", "maybe", "\u00e9t\u00e9", "x" * 5000, "99999999999999999999", "2147483648", "-2147483649",
              "RGB: 1e999% 5% 5%", "Lab: nan% 5 5", "3 inches", "1e300 in", "-1e300 px", "0.00001 pt", "1,2,3,4"]
    for name, _, params in effects:
        for p in params:
            for v in values:
                jobs.append(("values", ["apply", name, "in.png", "out.png", "-q", "--set", p["label"]["text"] + "=" + v]
                             + edge(name), base, {}))
        for v in ["-1", "65536", "1e5", "abc", "", "0x10", "99999999999999999999", " 5"]:
            jobs.append(("values", ["apply", name, "in.png", "out.png", "-q", "--seed", v] + edge(name), base, {}))
    # every ranged value of an effect at its top, then at its bottom, on a
    # small image, on one of 30000 pixels per inch and on a larger one,
    # within a tight and a loose memory limit
    images = dict(base, **{"hires.png": png(40, 30, ppm=1181102), "large.png": png(1600, 1200)})
    for name, _, params in effects:
        for end in ["maximum", "minimum"]:
            sets = ["--set=%s=%.17g" % (p["label"]["text"], p["range"][end]) for p in params if "range" in p]
            for image in ["in.png", "hires.png", "large.png"]:
                for limit in ["16M", "2G"]:
                    jobs.append(("values", ["apply", name, image, "out.png", "-q"] + sets + edge(name), images,
                                 {"KALVERO_MEMORY_LIMIT": limit}))
    # 4 scripts
    for i in range(share):
        name = effects[i % len(effects)][0]
        jobs.append(("scripts", ["apply", name, "in.png", "out.png", "-q", "--script", "s.json"] + edge(name), base,
                     {"@script": (name, i)}))
    for how in SPECIAL:
        jobs.append(("scripts", ["apply", "television", "in.png", "out.png", "--script", "s.json"],
                     dict(base, **{"s.json": how}), {}))
    # 5 stored settings
    shipped = os.path.join(build, "resources", "Settings")
    for i in range(share):
        name, folder, _ = effects[i % len(effects)]
        files = sorted(os.listdir(os.path.join(shipped, folder)))
        text = open(os.path.join(shipped, folder, files[i % len(files)]), "rb").read()
        bad = rng.choice(mutations(text, rng, 5) + [text.replace(b"\n", b"\r"), text.decode("latin1").encode("utf-16"),
                                                    text + b"1382966355 " + b"9" * 50000 + b"\n",
                                                    text + b"1382966355 nan\n", text + b"-1 1e999\n"] + SPECIAL)
        setting = rng.choice(["Mine", "Last Used", "a" * 250, "Caf\u00e9"])
        files = dict(base, **{os.path.join(SETTINGS, folder, setting): bad})
        command = rng.choice([["settings", "show", name, setting], ["settings", "list", name],
                              ["apply", name, "in.png", "out.png", "-q", "--settings", setting] + edge(name),
                              ["settings", "rename", name, setting, "Other"], ["settings", "delete", name, setting],
                              ["settings", "save", name, setting, "--replace"]])
        jobs.append(("settings", command, files, {}))
    for odd in ["", ".", "..", "../x", "a/b", "x" * 300, "\x01", " lead"]:
        jobs.append(("settings", ["settings", "save", "television", odd], base, {}))
        jobs.append(("settings", ["settings", "show", "television", odd], base, {}))
    jobs.append(("settings", ["settings", "list", "television"], dict(base, **{os.path.join(SETTINGS, "Television"): b"x"}), {}))
    # 6 the core's resource files, in a copy of the core beside kalvero's
    table = os.path.join("resources", "BF_UNICODE_STRING_TABLE", "1")
    for i in range(share):
        which = rng.choice([table, os.path.join("resources", "Effects.json"),
                            os.path.join("resources", "Settings", "Television", "Amber Monitor")])
        data = open(os.path.join(build, which), "rb").read()
        bad = rng.choice(mutations(data, rng, 4) + SPECIAL + [b"\x00\x00\xfe\xff", data * 3])
        command = rng.choice([["list"], ["about"], ["params", "lightning"], ["settings", "list", "television"],
                              ["apply", "television", "in.png", "out.png", "-q", "--settings", "amber monitor"],
                              ["apply", "lightning", "in.png", "out.png", "-q"]])
        jobs.append(("resources", ["--core", "core/libkalvero-core.so"] + command, dict(base, **{"@core": which, "core/" + which: bad}), {}))
    # 7 output and record paths
    outs = ["folder", "missing/out.png", "/proc/self/out.png", "/dev/null", "out", "out.bmp", "in.png/out.png",
            "x" * 300 + ".png", "new\nline.png", "out.jpg", "in.png", "/", ".png", "out.png/", "fifo.png"]
    for i in range(share):
        out, rec = rng.choice(outs), rng.choice(outs + ["rec.json", None])
        args = ["apply", "television", "in.png", out, "-q"] + (["--record", rec] if rec else [])
        files = dict(base, folder="folder", **{"fifo.png": "fifo"})
        jobs.append(("outputs", args, files, {}))
    # 8 the dialog without a usable display
    for i in range(share // 4):
        display = rng.choice([{"DISPLAY": ":99"}, {"DISPLAY": "garbage"}, {"DISPLAY": ""}, {"WAYLAND_DISPLAY": "w-9"},
                              {"DISPLAY": "/tmp/none:0"}])
        name = effects[i % len(effects)][0]
        jobs.append(("dialog", ["apply", name, "in.png", "out.png", "--dialog", "-q"] + edge(name), base, display))
    return jobs


def script_for(build, name, i):
    """A recorded script of `name`, damaged in the i-th of many ways."""
    rng = random.Random(i)
    desc = json.load(open(os.path.join(build, "resources", "Effects.json")))
    effect = next(e for e in desc["effects"] if e["name"]["text"] == name)
    script = {}
    for p in effect["parameters"]:
        script.update(p["default"])
    keys = list(script)
    k = rng.choice(keys)
    wild = [None, [], {}, "", "x" * 70000, 1e308, -1e308, 2 ** 64, -2 ** 63, True, "nan", [[[[]]]],
            {"type": "float", "value": "1"}, {"type": "integer", "value": 2 ** 40}, {"type": "text"},
            {"type": "enumerated", "enumType": "xx", "value": 5}, {"type": "unitFloat", "unit": "#Pxl", "value": 1e300},
            {"type": "boolean", "value": 1}, {"type": "text", "encoding": "latin1", "value": "\u20ac"}]
    how = i % 6
    if how == 0:
        script[k] = rng.choice(wild)
    elif how == 1 and isinstance(script[k], dict):
        script[k]["value"] = rng.choice(wild)
    elif how == 2:
        script[rng.choice(["", "toolong", "\u00e9\u00e9\u00e9\u00e9", "0xZZZZZZZZ", "RndS"])] = rng.choice(wild)
    elif how == 3:
        text = json.dumps(script)
        return text[:rng.randrange(len(text))].encode()
    elif how == 4:
        text = bytearray(json.dumps(script).encode())
        for _ in range(rng.randint(1, 6)):
            text[rng.randrange(len(text))] = rng.randrange(256)
        return bytes(text)
    else:
        return (b"[" * 100000) + (b"]" * 100000) if i % 12 == 5 else json.dumps(script).replace(
            "0.", "1e999").encode()
    return json.dumps(script).encode()


# Mesa keeps its contexts for the life of the process (Shatter renders
# through it), which the leak checker would count against kalvero.
MESA_LEAKS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "mesa.supp")


def files_in(folder):
    return {os.path.relpath(os.path.join(d, f), folder) for d, ds, fs in os.walk(folder) for f in fs + ds}


def run(task):
    build, kalvero, timeout, index, (family, args, files, env) = task
    sandbox = tempfile.mkdtemp(prefix="campaign-%05d-" % index)
    try:
        env = dict(env)
        if "@script" in env:
            files = dict(files, **{"s.json": script_for(build, *env.pop("@script"))})
        for name, how in files.items():
            if name == "@core":
                continue
            if name.startswith("core/"):
                shutil.copytree(os.path.join(build, "resources"), os.path.join(sandbox, "core", "resources"),
                                symlinks=True, ignore=shutil.ignore_patterns(".stamp"))
                os.symlink(os.path.join(build, "libkalvero-core.so"), os.path.join(sandbox, "core", "libkalvero-core.so"))
                target = os.path.join(sandbox, name)
                if os.path.isdir(target) and not os.path.islink(target):
                    shutil.rmtree(target)
                elif os.path.lexists(target):
                    os.remove(target)
            place(sandbox, name, how)
        os.makedirs(os.path.join(sandbox, "home"), exist_ok=True)
        before = files_in(sandbox)
        outputs = set()
        if "apply" in args:
            outputs.add(os.path.normpath(args[args.index("apply") + 3]))
        if "--record" in args:
            outputs.add(os.path.normpath(args[args.index("--record") + 1]))
        environment = {"PATH": os.environ["PATH"], "HOME": os.path.join(sandbox, "home"), "KALVERO_MEMORY_LIMIT": "2G",
                       "ASAN_OPTIONS": "detect_leaks=1", "UBSAN_OPTIONS": "print_stacktrace=1:halt_on_error=1",
                       "LSAN_OPTIONS": "suppressions=" + MESA_LEAKS}
        environment.update(env)
        rss = sandbox + ".rss"
        p = subprocess.run(["/usr/bin/time", "-q", "-f", "%M", "-o", rss, "timeout", "-s", "KILL", str(timeout), kalvero] + args,
                           cwd=sandbox, env=environment, capture_output=True, stdin=subprocess.DEVNULL)
        err = p.stderr.decode("utf-8", "replace")
        peak = int(open(rss).read().split()[-1]) * 1024 if os.path.exists(rss) else 0
        after = files_in(sandbox)
        new = {f for f in after - before if not f.startswith(SETTINGS) and f != os.path.dirname(SETTINGS)
               and not SETTINGS.startswith(f + os.sep)}
        found = []
        if p.returncode in (124, 137, -9):
            found.append("hang")
        elif p.returncode not in (0, 1, 2, 3, 130) or any(w in err for w in CRASH_WORDS):
            found.append("crash")
        limit = int(environment["KALVERO_MEMORY_LIMIT"][:-1]) << {"M": 20, "G": 30}[environment["KALVERO_MEMORY_LIMIT"][-1]]
        if peak > 2 * limit + (512 << 20):
            found.append("memory blow-up")
        if p.returncode != 0 and (new & outputs or any(os.path.basename(f).startswith(".") for f in new)):
            found.append("partial output")
        if new - outputs or not stat.S_ISCHR(os.lstat("/dev/null").st_mode):
            found.append("write outside")
        if any(w in err for w in LIBRARY_WORDS) or (p.returncode != 0 and "kalvero: " not in err):
            found.append("unclear message")
        lines = [l for l in err.splitlines() if l.startswith("kalvero: ") and "warning:" not in l]
        return family, p.returncode, found, args, (lines[-1] if lines else err.strip()[-300:])
    finally:
        shutil.rmtree(sandbox, ignore_errors=True)
        if os.path.exists(sandbox + ".rss"):
            os.remove(sandbox + ".rss")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build")
    parser.add_argument("--runs", type=int, default=10000)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--timeout", type=int, default=20, help="seconds before a run counts as a hang")
    parser.add_argument("--report", default="campaign-report.txt")
    o = parser.parse_args()
    build = os.path.abspath(o.build)
    jobs = plan(build, o.runs, random.Random(27))
    # Mixed, so that the running counts of a long campaign cover every family.
    random.Random(27).shuffle(jobs)
    tasks = [(build, os.path.join(build, "kalvero"), o.timeout, i, job) for i, job in enumerate(jobs)]
    counts, statuses, samples, problems = Counter(), Counter(), {}, []
    with Pool(o.jobs) as pool:
        for family, status, found, args, message in pool.imap_unordered(run, tasks, chunksize=8):
            counts["runs"] += 1
            counts[family] += 1
            statuses[status] += 1
            for f in found:
                counts[f] += 1
                problems.append("%s [%s] status %d: kalvero %s\n    %s" % (f, family, status, " ".join(map(repr, args)), message))
                print(problems[-1], flush=True)
            if status != 0 and message:
                samples.setdefault(family, set()).add(message)
            if counts["runs"] % 500 == 0:
                print("%d runs: %s" % (counts["runs"], ", ".join("%s %d" % (k, counts[k]) for k in KINDS)), flush=True)
    with open(o.report, "w") as report:
        report.write("\n".join(problems) + "\n")
        for family, messages in sorted(samples.items()):
            report.write("\n== %s: %d distinct messages\n" % (family, len(messages)))
            report.write("\n".join(sorted(messages)) + "\n")
    print("runs %d; exit statuses %s" % (counts["runs"], dict(sorted(statuses.items()))))
    print("families: " + ", ".join("%s %d" % (f, counts[f]) for f in
                                  ["images", "selections", "values", "scripts", "settings", "resources", "outputs", "dialog"]))
    print("; ".join("%s %d" % (k, counts[k]) for k in KINDS))
    print("problems and every distinct message: " + o.report)
    return 1 if any(counts[k] for k in KINDS) else 0


if __name__ == "__main__":
    sys.exit(main())
