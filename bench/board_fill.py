#!/usr/bin/env python3
"""Fills a board's database to a number of posts fast, for the benchmarks:
    board_fill.py DATABASE COUNT NAMES
DATABASE is what velmora-board's --db takes: an SQLite file, or a postgresql:// connection string
of the private cluster of tests/board/private-postgres.sh (its VELMORA_TEST_POSTGRES_ADMIN
command does the work). The board must have made its schema and hold at least one post, made
through the board; the database itself then copies that post until COUNT posts are there, each
copy under one of the learners learner-1 .. learner-NAMES in turn (the names board_servers_load
reads), a minute apart, with levels, reference-tone use and scores spread so that every
ranking group has names in it. A post's report text stays the first post's; the pages measured
do not read it back against the other columns."""
import os
import sqlite3
import subprocess
import sys
import urllib.parse


def expressions(columns, first, last, names):
    """The SELECT list of the copy, column by column, over template t and counter g."""
    chosen = {
        "name": f"'learner-' || (1 + g % {names})",
        "name_key": f"'learner-' || (1 + g % {names})",
        "posted_at": f"t.posted_at + (CAST(g AS BIGINT) - {last}) * 60000",
        "level_index": "g % 4",
        "reference_used": "(g / 4) % 2",
        "score": "100 - (g * 37) % 61",
        "fingerprint": "t.fingerprint || '-' || g",
        "password_hash": "NULL",
    }
    return [chosen.get(column, "t." + column) for column in columns]


def fill_sqlite(path, count, names):
    db = sqlite3.connect(path, timeout=30)
    have = db.execute("SELECT count(*) FROM posts").fetchone()[0]
    if have == 0:
        sys.exit("board_fill: no post to copy yet")
    if have >= count:
        return have
    columns = [row[1] for row in db.execute("PRAGMA table_info(posts)") if row[1] != "id"]
    first, last = have + 1, count
    select = ", ".join(expressions(columns, first, last, names))
    db.execute(f"""WITH RECURSIVE g(g) AS (SELECT {first} UNION ALL SELECT g + 1 FROM g WHERE g < {last})
                   INSERT INTO posts ({", ".join(columns)})
                   SELECT {select} FROM posts t, g WHERE t.id = (SELECT min(id) FROM posts)""")
    db.execute("UPDATE post_count SET n = (SELECT count(*) FROM posts), version = version + 1")
    db.commit()
    db.execute("ANALYZE")
    db.close()
    return count


def psql(database, sql):
    admin = os.environ["VELMORA_TEST_POSTGRES_ADMIN"].split()
    result = subprocess.run(admin + ["-d", database, "-Atc", sql], capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"board_fill: {result.stderr.strip()}")
    return result.stdout.strip()


def fill_postgres(url, count, names):
    database = urllib.parse.urlsplit(url).path.lstrip("/")
    have = int(psql(database, "SELECT count(*) FROM posts"))
    if have == 0:
        sys.exit("board_fill: no post to copy yet")
    if have >= count:
        return have
    columns = psql(database, "SELECT column_name FROM information_schema.columns WHERE table_name = 'posts' "
                             "AND column_name <> 'id' ORDER BY ordinal_position").split("\n")
    first, last = have + 1, count
    select = ", ".join(expressions(columns, first, last, names))
    psql(database, f"""INSERT INTO posts ({", ".join(columns)})
                       SELECT {select} FROM posts t, generate_series({first}, {last}) g
                       WHERE t.id = (SELECT min(id) FROM posts);
                       UPDATE post_count SET n = (SELECT count(*) FROM posts), version = version + 1""")
    psql(database, "VACUUM ANALYZE posts")
    # The copies' pages written out now, not by a checkpoint in the middle of the measurement.
    psql(database, "CHECKPOINT")
    return count


def main():
    database, count, names = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    if database.startswith("postgresql://"):
        fill_postgres(database, count, names)
    else:
        fill_sqlite(database, count, names)


if __name__ == "__main__":
    main()
