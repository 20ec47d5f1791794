"""Bad input from Python raises an exception with a message and never ends the interpreter:
the readers' exits are captured, the render's parser refuses what the command line refuses,
and an interrupted bake leaves no half-written folder."""

import math
import os
import shutil
import signal

import numpy as np
import pytest

import tonwell
from conftest import RECIPES


def test_missing_and_broken_scene_folders_raise_the_readers_message(scenes, tmp_path):
    start = os.getcwd()
    with pytest.raises(FileNotFoundError, match=r'scene folder ".*nowhere" does not exist'):
        tonwell.Scene(tmp_path / "nowhere")
    # A folder of no known name and without presets.json.
    (tmp_path / "empty").mkdir()
    with pytest.raises(tonwell.SceneError, match=r"bell, chair or dragon.*presets\.json"):
        tonwell.Scene(tmp_path / "empty")
    # Copies of the chair with one file broken each: the reader's message names the file.
    for broken, damage, message in [
            ("chair.U", b"", r"chair\.U"),
            ("chair.freq", b"\x03\x00\x00\x00", r"chair\.freq"),
            ("chair.obj", b"v 0 0 0\nf 1 2 7\n", r'chair\.obj" line 2'),
            ("chair-transfer-003.sources", b"\x01\x00\x00\x00\x01\x00\x00\x00",
             r"chair-transfer-003\.sources")]:
        copy = tmp_path / broken.replace(".", "_") / "chair"
        shutil.copytree(scenes["chair"], copy)
        (copy / broken).write_bytes(damage)
        with pytest.raises(tonwell.SceneError, match=message):
            tonwell.Scene(copy)
        # The render core alone (which Scene.render reaches only after the Scene read the
        # files) refuses it too: the engine's loading reports a reader's problem as its own.
        with pytest.raises((tonwell.SceneError, ValueError), match=message):
            tonwell._tonwell.render([str(copy), "-o", "x.wav", "--strike", "vertex=1"])
    # The interpreter goes on, in the working directory it was in.
    assert os.getcwd() == start


def test_wrong_shapes_nans_and_out_of_range_values_raise_value_error(scenes):
    scene = tonwell.Scene(scenes["chair"])
    for points in (np.zeros((4, 2)), np.zeros(3), np.zeros((2, 3, 1)), [["a", "b", "c"]]):
        with pytest.raises(ValueError, match="shape|numbers"):
            scene.transfer(points)
    with pytest.raises(ValueError, match="point 1 .*not finite"):
        scene.transfer(np.array([[0.0, 0.0, 1.0], [math.nan, 0.0, 1.0]]))
    bad_strikes = [
        ({"vertex": 3, "at": math.nan}, "at is NaN"),
        ({"vertex": 3, "magnitude": math.nan}, "magnitude is NaN"),
        ({"vertex": 3, "direction": (0.0, math.nan, 1.0)}, "direction is NaN"),
        ({"point": (math.nan, 0.0, 0.0)}, "point is NaN"),
        ({"vertex": 3, "at": -0.5}, "time"),
        ({"vertex": 3, "magnitude": 1e9}, "magnitude"),
        ({"vertex": 3, "direction": (0.0, 0.0, 0.0)}, "direction"),
        ({"vertex": 3, "at": 5.0}, "after the end"),
        ({"vertex": 10**6}, "unknown vertex 1000000"),
        ({"vertex": -2}, "negative"),
        ({"vertex": 2.5}, "integer"),
        ({"vertex": 3, "point": (0, 0, 0)}, "either a vertex or a point"),
        ({"vertex": 3, "speed": 2}, "unknown key 'speed'"),
    ]
    for strike, message in bad_strikes:
        with pytest.raises(ValueError, match=message):
            scene.render([strike], seconds=1.0)
    for options, message in [({"seconds": math.nan}, "length"), ({"channels": 3}, "channels"),
                             ({"impact_duration": 0}, "impact"), ({"renderer": "fast"}, "renderer"),
                             ({"solo": 99}, "solo 99"), ({"listener": (0, math.nan, 1)}, "listener")]:
        arguments = {"seconds": 0.2, **options}
        with pytest.raises(ValueError, match=message):
            scene.render([{"vertex": 3}], **arguments)
    with pytest.raises(ValueError, match="structured"):
        scene.render(np.zeros((2, 3)), seconds=0.2)
    # After all that, a good render still works.
    assert np.max(np.abs(scene.render([{"vertex": 3}], seconds=0.2))) > 0


def test_bake_refuses_bad_input_with_the_bakers_message(tmp_path):
    with pytest.raises(tonwell.BakeError, match="cannot open the mesh file"):
        tonwell.bake(mesh=tmp_path / "missing.obj", material="wood", out=tmp_path / "thing")
    with pytest.raises(tonwell.BakeError, match="unknown material"):
        tonwell.bake(mesh=tmp_path / "missing.obj", material="cheese", out=tmp_path / "thing")
    recipe = tmp_path / "bad.json"
    recipe.write_text('{"name": "bad", "shape": {"kind": "chair"}, "material": "wood", '
                      '"modes": {"count": -4}}')
    with pytest.raises(tonwell.BakeError, match="bad.json"):
        tonwell.bake(recipe, out=tmp_path / "bad")
    with pytest.raises(ValueError, match="either a recipe or a mesh"):
        tonwell.bake(out=tmp_path / "nothing")
    assert sorted(os.listdir(tmp_path)) == ["bad.json"]


@pytest.mark.parametrize("how", ["signal", "raised"])
def test_an_interrupted_bake_leaves_no_half_written_folder(tmp_path, how):
    """Interrupted after its first stage, by a SIGINT to the interpreter (as Ctrl-C sends) or
    by a KeyboardInterrupt raised in the progress callback: the exception reaches the caller,
    the baker has removed its temporary folder, and the output folder was never made."""
    stages = []

    def interrupt(fraction, message):
        stages.append(message)
        if how == "signal":
            os.kill(os.getpid(), signal.SIGINT)
        else:
            raise KeyboardInterrupt

    out = tmp_path / "chair"
    with pytest.raises(KeyboardInterrupt):
        tonwell.bake(os.path.join(RECIPES, "chair-quick.json"), out=out, progress=interrupt)
    assert stages and stages[0].startswith("surface")
    assert os.listdir(tmp_path) == []
