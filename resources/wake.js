(function(){
  var puente=window.webkit.messageHandlers.brindlemarPlayer,sonando=[];
  function avisa(){try{puente.postMessage({action:sonando.length?'awake':'idle'});}catch(e){}}
  function marca(e){var v=e.target;if(!v||v.tagName!=='VIDEO'||sonando.indexOf(v)>=0)return;sonando.push(v);avisa();}
  function olvida(e){var i=sonando.indexOf(e.target);if(i<0)return;sonando.splice(i,1);avisa();}
  document.addEventListener('playing',marca,true);
  document.addEventListener('pause',olvida,true);
  document.addEventListener('ended',olvida,true);
  document.addEventListener('emptied',olvida,true);
  window.addEventListener('pagehide',function(){sonando.length=0;avisa();});
})();