import random, sys
random.seed(20240607)
out, folder = sys.argv[1], sys.argv[2]
words = ["--switch", "\"quoted value\"", "Grüße", "κόσμε", "日本語", "path\\to\\file", "x=1", "%PLACEHOLDER%"]
arguments = " ".join(random.choice(words) for _ in range(60))
assert len(arguments) > 300
with open(out, "w", encoding="utf-8", newline="\n") as f:
    f.write(f"target={folder}\\target program.exe\n")
    f.write(f"working_dir={folder}\n")
    f.write(f"arguments={arguments}\n")
    f.write("description=Начать просмотр — ブラウザ\n")
    f.write(f"icon={folder}\\target program.exe\n")
    f.write("icon_index=3\n")
    f.write("new_description=Replaced description\n")
    f.write("new_arguments=--only these\n")
