// The popup's side of the host calls: title, message and buttons come from the program; a
// pressed button goes back through view.onButtonPressed and closes the window.
var GenericPopup = {
  setTitle: function (text) {
    document.getElementById('title').textContent = text;
    return 'title:' + text;
  },
  setMessage: function (text) {
    document.getElementById('message').textContent = text;
  },
  setButtons: function (list) {
    var row = document.getElementById('buttons');
    while (row.firstChild) row.removeChild(row.firstChild);
    for (var i = 0; i < list.length; i++) {
      var button = document.createElement('button');
      button.id = 'button' + i;
      button.textContent = list[i].displayText;
      button.onclick = (function (id) {
        return function () {
          view.onButtonPressed({ buttonID: id });
          view.close();
        };
      })(list[i].buttonID);
      row.appendChild(button);
    }
    return list.length;
  }
};

function buttonCenter(index) {
  var r = document.getElementById('button' + index).getBoundingClientRect();
  return { x: r.left + r.width / 2, y: r.top + r.height / 2 };
}

function setProgress(percent) {
  document.getElementById('fill').style.width = percent + '%';
}

document.onkeydown = function (event) {
  if (event.keyCode == 27) {
    view.onButtonPressed({ buttonID: 'escape' });
    view.close();
    return false;
  }
};
